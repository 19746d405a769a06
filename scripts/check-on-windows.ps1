# What Wine cannot show, checked on a real Windows 10 or 11 by a maintainer, as a normal user (no
# administrator prompt):
#   1. Detect + Save judges who could replace an interpreter by the folders' real permissions:
#      a conda environment under ProgramData (every user may add files there) and a virtual
#      environment in Public Documents are not saved into a settings file of one's own; one in
#      one's profile is.
#   2. cmd, given NoDefaultCurrentDirectoryInExePath=1 as the console's environment holds it, does
#      not run a program planted in its current folder for a bare name.
#   3. Detect reads the Store's Python through its aliases' link data (Wine cannot make such
#      links): each installed package is listed once, as WindowsApps\<family>\python.exe, with a
#      version and the width of the package's own python.exe; the top-level aliases are not
#      listed. SKIP when no Store Python is installed.
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
$storeApp = Join-Path $env:TEMP "velmar-check-store"
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

  # 3. The Store's Python, found from the aliases' link data.
  $aliases = Join-Path $env:LOCALAPPDATA "Microsoft\WindowsApps"
  $families = @(Get-ChildItem $aliases -Directory -Filter "PythonSoftwareFoundation.Python.*" -ErrorAction SilentlyContinue)
  if ($families.Count -eq 0) {
    Write-Output "SKIP the Store's Python is not installed"
  } else {
    New-Item -ItemType Directory -Force $storeApp | Out-Null
    Copy-Item $Velmar "$storeApp\Velmar.exe"
    Set-Content "$storeApp\config.cfg" "<configure></configure>" -Encoding Ascii
    $detected = @(& "$storeApp\Velmar.exe" --detect)
    foreach ($family in $families) {
      $lines = @($detected | Where-Object { $_ -like "$($family.FullName)\python.exe|*" })
      Check "the Store's $($family.Name) is listed once, with its version and width" ($lines.Count -eq 1 -and $lines[0] -match '\|3\.\d+\.\d+\|64\|$')
    }
    Check "no top-level WindowsApps alias is listed" (-not ($detected -match ('^' + [regex]::Escape($aliases) + '\\python[0-9.]*\.exe\|')))
    Write-Output $detected
  }
} finally {
  foreach ($folder in @($app, $condaEnv, $public, $own, $planted, $storeApp)) {
    if (Test-Path $folder) { Remove-Item -Recurse -Force $folder }
  }
}
exit $failed
