#!/usr/bin/env bash
# The DLL names itself by its file name, exports exactly the four COM server
# entry points by name, imports only DLLs that every Windows has, and keeps its sections at page
# boundaries in the file (a loader may then map it as it stands instead of reading it).
set -euo pipefail
dll=$1
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
fail=0

name=$(sed -n 's/^Name[[:space:]]*[0-9a-f]* \(.*\)$/\1/p' <<<"$dump" | head -n 1)
if [ "$name" != "$(basename "$dll")" ]; then
  echo "export directory names '$name'"
  fail=1
fi

exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/{f=1;next}
  f && /^[[:space:]]+\[/{print $NF; next} {f=0}' <<<"$dump" | sort | tr '\n' ' ')
if [ "$exports" != "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]; then
  echo "exports: $exports"
  fail=1
fi

system='^(NTDLL|KERNEL32|ADVAPI32|USER32|GDI32|SHELL32|SHLWAPI|OLE32|OLEAUT32|UXTHEME|COMCTL32|VERSION|msvcrt)\.dll$'
while read -r import; do
  if ! grep -qiE "$system" <<<"$import"; then
    echo "imports a DLL that is not part of Windows: $import"
    fail=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")

alignment=$(sed -n 's/^FileAlignment[[:space:]]*\([0-9a-f]*\)$/\1/p' <<<"$dump")
if [ "$alignment" != 00001000 ]; then
  echo "sections aligned at 0x$alignment in the file, not at pages (0x1000)"
  fail=1
fi

[ $fail -eq 0 ] && echo "exports: $exports; imports: $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
exit $fail
