# Packs and signs the sparse package for Windows 11's first context menu. Runs on Windows with the
# Windows SDK (MakeAppx.exe and SignTool.exe on PATH, or in the SDK's bin folder); it cannot run
# under Wine. The certificate's subject must be the manifest's Publisher (VELMAR_PACKAGE_PUBLISHER
# in CMakeLists.txt), and the machine must trust it.
#   pack.ps1 -Package build\package -Certificate signing.pfx [-Password secret] [-Out Velmar.msix]
# Put the result beside Velmar.exe in the install folder and run `Velmar.exe --register-package`.
param(
  [Parameter(Mandatory = $true)][string]$Package,
  [Parameter(Mandatory = $true)][string]$Certificate,
  [string]$Password = '',
  [string]$Out = 'Velmar.msix'
)
$ErrorActionPreference = 'Stop'

function Find-SdkTool([string]$Name) {
  $onPath = Get-Command $Name -ErrorAction SilentlyContinue
  if ($onPath) { return $onPath.Source }
  $kits = Join-Path ${env:ProgramFiles(x86)} 'Windows Kits\10\bin'
  $found = Get-ChildItem $kits -Recurse -Filter $Name -ErrorAction SilentlyContinue |
    Where-Object { $_.DirectoryName -like '*\x64' } | Sort-Object FullName | Select-Object -Last 1
  if (-not $found) { throw "$Name not found: install the Windows SDK" }
  return $found.FullName
}

$makeAppx = Find-SdkTool 'MakeAppx.exe'
$signTool = Find-SdkTool 'SignTool.exe'
# /nv: a sparse package holds no executable of its own, which the validation would ask for.
& $makeAppx pack /o /nv /d $Package /p $Out
if ($LASTEXITCODE -ne 0) { throw "MakeAppx failed ($LASTEXITCODE)" }
$signArgs = @('sign', '/fd', 'SHA256', '/a', '/f', $Certificate)
if ($Password) { $signArgs += @('/p', $Password) }
& $signTool @signArgs $Out
if ($LASTEXITCODE -ne 0) { throw "SignTool failed ($LASTEXITCODE)" }
Write-Output "signed $Out"
