#!/usr/bin/env bash
# Checks that each given Windows executable imports only DLLs that Windows always loads
# from System32 (the KnownDLLs), and in particular neither hid.dll nor setupapi.dll: those
# are loaded at run time from System32, so a copy planted beside the program is never used.
# Usage: tests/wine/platform_import_check.sh program.exe...
set -euo pipefail

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
# The KnownDLLs list of current Windows releases, lower case.
known=" advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll
  gdiplus.dll imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll
  ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll shcore.dll shell32.dll shlwapi.dll
  user32.dll wldap32.dll ws2_32.dll "
# Loaded at run time on purpose; a static import would bring back the planting risk.
forbidden=" hid.dll setupapi.dll "
known=" $(echo $known) "  # one space between names, so that " name " matches any of them

[ $# -gt 0 ] || { echo "usage: $0 program.exe..." >&2; exit 2; }
status=0
for exe in "$@"; do
  [ -f "$exe" ] || { echo "FAIL $exe: no such file"; status=1; continue; }
  imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  for dll in $imports; do
    if [[ "$forbidden" == *" $dll "* ]]; then
      echo "FAIL $(basename "$exe") imports $dll statically"
      status=1
    elif [[ "$known" != *" $dll "* ]]; then
      echo "FAIL $(basename "$exe") imports $dll, which Windows may take from the program's folder"
      status=1
    fi
  done
  echo "info $(basename "$exe") imports:" $imports
done
[ $status -eq 0 ] && echo "PASS: only KnownDLLs imported"
exit $status
