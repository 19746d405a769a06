#!/usr/bin/env bash
# Builds the extension and its installer package, installs the package silently into a private
# Wine prefix the way an administrator would, and plays Explorer: right-clicks on a folder's
# background, a file, a folder and two files, printing what the extension logged for each and
# the menu it built; then chooses interpreters and the companion, shows Windows 11's menu, and
# removes the package, then installs and removes the package for one user.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh"
bin=$build/bin

export VELMAR_WINEPREFIX=$build/demo-prefix
source "$root/scripts/wine-env.sh"
trap '"$root/scripts/wine-prefix.sh" stop' EXIT
"$root/scripts/wine-prefix.sh" ensure
wine() { "$WINE64" "$@"; }

drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/Velmar"
sample="$drive_c/users/Public/Documents/sample-project"
mkdir -p "$sample/src"
echo 'print("hello")' >"$sample/main.py"
echo 'numpy' >"$sample/requirements.txt"
# The sample project has a virtual environment; the project's interpreter stand-in plays its
# python.exe and the system's Python (Wine cannot hand a Linux python3's output to Windows).
python_dir="$drive_c/Program Files/Python312"
mkdir -p "$python_dir" "$sample/.venv/Scripts" "$drive_c/velmar-demo"
cp "$bin/python_standin.exe" "$python_dir/python.exe"
printf 'version=3.12.1\nbits=64\n' >"$python_dir/standin.cfg"
cp "$bin/python_standin.exe" "$sample/.venv/Scripts/python.exe"
printf 'version=3.11.7\nbits=64\n' >"$sample/.venv/Scripts/standin.cfg"
printf "home = C:\\Program Files\\Python312\nversion = 3.11.7\nprompt = 'sample-project'\n" >"$sample/.venv/pyvenv.cfg"
# The console: Wine's real cmd.exe sets the prompt, then a reporter prints what the console
# got (a headless cmd /k would close at once).
cp "$bin/console_standin.exe" "$drive_c/velmar-demo/report.exe"

# msiexec ACTION on a package copied to C:\velmar-demo, quietly; $code is its exit code.
msiexec_demo() {
  code=0
  wine msiexec "$1" "C:\\velmar-demo\\$(basename "$2")" /qn /norestart || code=$?
}

package=$(ls "$bin"/Velmar-[0-9]*-x64.msi)
cp "$package" "$drive_c/velmar-demo/"
module=$bin/$(sed -n 's/^module_file=//p' "$build/identity.env")
echo "== DLL: $(stat -c %s "$module") bytes; $(bash "$root/tests/check_module.sh" "$module")"
echo "== msiexec /i $(basename "$package") /qn /norestart"
msiexec_demo /i "$package"
echo "exit code $code (0: installed; 3010: installed, the DLL is replaced at the next restart)"
[ "$code" -eq 0 ] || [ "$code" -eq $((3010 % 256)) ] || exit 1
echo "== C:\Program Files\Velmar:"
ls -l "$install_dir" | tail -n +2 | awk '{print "   " $5 "\t" $9}'
# The user's own settings replace the defaults the package put in place.
cat >"$install_dir/config.cfg" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<configure>
    <version>1.0</version>
    <description>Main job</description>
    <command_line>cmd.exe /c __PROMPT__ &amp; "C:\velmar-demo\report.exe"</command_line>
    <log_level>1</log_level>
    <python>
        <path>C:\Program Files\Python312\python.exe</path>
        <version>3.12.1</version>
        <bits>64</bits>
    </python>
</configure>
XML
export VELMAR_CONSOLE_RECORD='C:\velmar-demo\console.txt'
record="$drive_c/velmar-demo/console.txt"

# The companion finds the project's virtual environment (run from the project), but does not put
# it into the machine's settings: the folder is one that every user may write.
echo "== Velmar.exe --list, then --detect --save from the project folder, then --list"
velmar='C:\Program Files\Velmar\Velmar.exe'
(cd "$sample" && wine "$velmar" --list | tr -d '\r' | sed 's/^/   /')
(cd "$sample" && wine "$velmar" --detect --save 2>"$drive_c/velmar-demo/refused.txt" |
  tr -d '\r' | sed 's/^/   found: /')
tr -d '\r' <"$drive_c/velmar-demo/refused.txt" | sed 's/^/   /'
(cd "$sample" && wine "$velmar" --list | tr -d '\r' | sed 's/^/   /')
echo "-- the administrator adds the project's environment by hand, knowing whose folder it is:"
sed -i 's|</configure>|    <python>\n        <path>C:\\users\\Public\\Documents\\sample-project\\.venv\\Scripts\\python.exe</path>\n        <version>3.11.7</version>\n        <bits>64</bits>\n    </python>\n</configure>|' \
  "$install_dir/config.cfg"
(cd "$sample" && wine "$velmar" --list | tr -d '\r' | sed 's/^/   /')

project='C:\users\Public\Documents\sample-project'
echo "== what the package wrote in the registry (the values DllRegisterServer writes)"
clsid=$(sed -n 's/^class_id=//p' "$build/installer/velmar_msi.env")
for key in "HKCR\\CLSID\\$clsid" 'HKCR\*\shellex\ContextMenuHandlers\VelmarShellExtensions' \
  'HKCR\Directory\shellex\ContextMenuHandlers\VelmarShellExtensions' \
  'HKCR\Directory\Background\shellex\ContextMenuHandlers\VelmarShellExtensions' \
  'HKCR\txtfile\ShellEx\ContextMenuHandlers\VelmarExtensionsShell'; do
  wine reg query "$key" /s 2>/dev/null | tr -d '\r' | sed '/^$/d'
done
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' \
  /v "$clsid" 2>/dev/null | tr -d '\r' | sed '/^$/d'

host() {
  echo
  echo "== right-click: $1"
  shift
  wine "$bin/debug_run.exe" "$bin/shell_host.exe" "$@" | tr -d '\r'
}
host "background of $project" background "$project" menu
host "the file main.py" select 1 "$project\\main.py" menu
host "the folder src" select 1 "$project\\src" menu
host "two files (refused: the menu serves one item)" select 2 "$project\\main.py" \
  "$project\\requirements.txt"

console() {
  echo
  echo "== right-click the project folder's background, choose: $1"
  rm -f "$record"
  wine "$bin/debug_run.exe" "$bin/shell_host.exe" background "$project" menu invoke "$2" |
    tr -d '\r' | grep -E 'InvokeCommand|invoke=|ERROR' || true
  for _ in $(seq 1 100); do [ -f "$record" ] && break; sleep 0.1; done
  echo "-- what the started program got:"
  if [ -f "$record" ]; then
    sed -e 's/^/   /' -e 's/^   PATH=\([^;]*;[^;]*;[^;]*\).*/   PATH=\1;.../' "$record"
  else
    echo "   (nothing started)"
  fi
}
console '"Python 3.11.7 64" (the project'"'"'s virtual environment)' 3
console '"Python 3.12.1 64"' 2

echo
echo "== Windows 11's first menu (the command class the sparse package names), on the project folder"
wine "$bin/shell_host.exe" xselect 1 "$project" xmenu | tr -d '\r' | sed 's/^/   /'
echo "-- and on the folder window's background (no item; the window given as the command's site):"
wine "$bin/shell_host.exe" xsite "$project" both xnone xmenu | tr -d '\r' | sed 's/^/   /'
echo "-- registering the package needs Windows's package manager:"
wine "$install_dir/Velmar.exe" --register-package | tr -d '\r' | sed 's/^/   /' || true

echo
echo "== msiexec /x $(basename "$package") /qn /norestart"
msiexec_demo /x "$package"
echo "exit code $code (0: removed)"
echo "-- left in C:\\Program Files\\Velmar (the settings the user changed):"
ls "$install_dir" 2>/dev/null | sed 's/^/   /'
echo "-- a right-click now:"
wine "$bin/shell_host.exe" background "$project" | tr -d '\r' | sed 's/^/   /' || true

# Without administrator rights: the package for the installing user alone.
user_package=$(ls "$bin"/Velmar-[0-9]*-x64-user.msi)
cp "$user_package" "$drive_c/velmar-demo/"
echo
echo "== msiexec /i $(basename "$user_package") /qn /norestart (for this user alone, no rights asked)"
msiexec_demo /i "$user_package"
echo "exit code $code"
echo "-- %LOCALAPPDATA%\\Programs\\Velmar:"
ls "$drive_c/users/$(whoami)/AppData/Local/Programs/Velmar" | sed 's/^/   /'
echo "-- the registration, under HKCU (Windows merges it into HKEY_CLASSES_ROOT; Wine does not):"
wine reg query "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" 2>/dev/null |
  tr -d '\r' | sed '/^$/d;s/^/   /'
msiexec_demo /x "$user_package"
echo "== msiexec /x: exit code $code; the registration is gone:"
wine reg query "HKCU\\Software\\Classes\\CLSID\\$clsid" >/dev/null 2>&1 &&
  echo "   still there" || echo "   HKCU\\Software\\Classes\\CLSID\\$clsid: none"
