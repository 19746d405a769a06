# Windows 11's first menu, checked on Windows 11 by a maintainer after installing the signed
# installer package (the package's certificate trusted by the machine: a release certificate, or
# for a test build a self-signed one added to Trusted People by an administrator). Prints PASS or
# FAIL per check; asks what Explorer shows. Leaves the package registered as it found it.
#   powershell -ExecutionPolicy Bypass -File verify-windows11.ps1 [-Install "C:\Program Files\Velmar"]
param([string]$Install = "$env:ProgramFiles\Velmar",
      [string]$Name = 'Velmar.PythonHere',
      [string]$ClassId = '2C9E7A41-5B8D-4E36-9F1A-7D3C05E8B294')
$ErrorActionPreference = 'Stop'
$failed = 0
function Check([string]$what, [bool]$ok) {
  if ($ok) { Write-Output "PASS $what" } else { Write-Output "FAIL $what"; $script:failed++ }
}
function Ask([string]$question) {
  (Read-Host "$question [y/n]") -match '^[yY]'
}
$package = Join-Path $Install 'Velmar.msix'

$signature = Get-AuthenticodeSignature $package
Check "Velmar.msix carries a valid signature ($($signature.Status), $($signature.SignerCertificate.Subject))" ($signature.Status -eq 'Valid')

$registered = Get-AppxPackage -Name $Name
Check "the package is registered for this user (status $($registered.Status))" ($registered -and $registered.Status -eq 'Ok')
if ($registered) { Write-Output "     install location: $($registered.InstallLocation)" }
Check "its command class is registered as packaged COM" (Test-Path "Registry::HKEY_CLASSES_ROOT\PackagedCom\ClassIndex\{$ClassId}")

Write-Output "In Explorer, right-click each of these and look at the first menu (not 'Show more options'):"
Check "'Python here' on a file's menu" (Ask '  a file: does the menu show "Python here" with its submenu?')
Check "'Python here' on a folder's menu" (Ask '  a folder: does it show "Python here"?')
Check "'Python here' on a folder's background" (Ask '  the background of a folder window: does it show "Python here", and does choosing an interpreter open a console in that folder?')

& "$Install\Velmar.exe" --unregister-package | Out-Null
Check "Velmar.exe --unregister-package removes it" (-not (Get-AppxPackage -Name $Name))
Add-AppxPackage -Path $package -ExternalLocation $Install
Check "Add-AppxPackage -ExternalLocation registers it again" ([bool](Get-AppxPackage -Name $Name))
exit $failed
