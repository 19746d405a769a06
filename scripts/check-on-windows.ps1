# What Wine cannot show, checked on a real Windows 10 or 11 by a maintainer, as a normal user (no
# administrator prompt):
#   1. Detect + Save judges who could replace an interpreter by the folders' real permissions:
#      a conda environment under ProgramData (every user may add files there) and a virtual
#      environment in Public Documents are not saved into a settings file of one's own; one in
#      one's profile is.
#   2. cmd, given NoDefaultCurrentDirectoryInExePath=1 as the console's environment holds it, does
#      not run a program planted in its current folder for a bare name.
# Usage: powershell -ExecutionPolicy Bypass -File check-on-windows.ps1 -Velmar PATH\Velmar.exe
# Prints PASS or FAIL per check; everything it makes is removed at the end.
param([Parameter(Mandatory = $true)][string]$Velmar)
$ErrorActionPreference = 'Stop'
$failed = 0
function Check([string]$what, [bool]$ok) {
  if ($ok) { Write-Output "PASS $what" } else { Write-Output "FAIL $what"; $script:failed++ }
}
# A stand-in interpreter: any 64-bit program, with the records Detect reads its version from.
function New-Venv([string]$folder) {
  New-Item -ItemType Directory -Force "$folder\Scripts", "$folder\proj" | Out-Null
  Copy-Item $Velmar "$folder\Scripts\python.exe"
  Set-Content "$folder\pyvenv.cfg" "version = 3.12.1" -Encoding Ascii
  return "$folder\Scripts\python.exe"
}
function Invoke-Detect([string]$app, [string]$start) {
  Push-Location $start
  try { $errors = & "$app\Velmar.exe" --detect --save 2>&1 | Out-String } finally { Pop-Location }
  return $errors
}

$app = Join-Path $env:TEMP "velmar-check-app"
$condaEnv = Join-Path $env:ProgramData "miniconda3\envs\velmar-check"
$public = Join-Path $env:PUBLIC "Documents\velmar-check"
$own = Join-Path $env:USERPROFILE "velmar-check"
$planted = Join-Path $env:TEMP "velmar-check-planted"
try {
  New-Item -ItemType Directory -Force $app | Out-Null
  Copy-Item $Velmar "$app\Velmar.exe"
  Set-Content "$app\config.cfg" "<configure><command_line>cmd.exe /k __PROMPT__</command_line></configure>" -Encoding Ascii

  # 1. Who could replace each interpreter.
  New-Item -ItemType Directory -Force "$condaEnv\conda-meta" | Out-Null
  Copy-Item $Velmar "$condaEnv\python.exe"
  Set-Content "$condaEnv\conda-meta\python-3.11.4-h0_0.json" "{}" -Encoding Ascii
  $publicPython = New-Venv $public
  $ownPython = New-Venv $own
  $said = (Invoke-Detect $app "$public\proj") + (Invoke-Detect $app "$own\proj")
  $listed = & "$app\Velmar.exe" --list | Out-String
  Check "the conda environment under ProgramData is refused" ($said -like "*not saved: $condaEnv\python.exe:*")
  Check "the virtual environment in Public Documents is refused" ($said -like "*not saved: ${publicPython}:*")
  Check "the virtual environment in one's profile is saved" ($listed -like "*$ownPython|3.12.1|64|*")
  Check "nothing refused is saved" (-not ($listed -like "*$condaEnv*") -and -not ($listed -like "*$public*"))
  Write-Output $said

  # 2. A bare name in the console is looked for on PATH only.
  New-Item -ItemType Directory -Force $planted | Out-Null
  Copy-Item "$env:SystemRoot\System32\hostname.exe" "$planted\velmar-planted.exe"
  $env:NoDefaultCurrentDirectoryInExePath = '1'
  $ran = cmd.exe /d /c "cd /d `"$planted`" && velmar-planted 2>nul" | Out-String
  Remove-Item Env:\NoDefaultCurrentDirectoryInExePath
  Check "cmd does not run a program from its current folder" (-not ($ran -like "*$env:COMPUTERNAME*"))
} finally {
  foreach ($folder in @($app, $condaEnv, $public, $own, $planted)) {
    if (Test-Path $folder) { Remove-Item -Recurse -Force $folder }
  }
}
exit $failed
