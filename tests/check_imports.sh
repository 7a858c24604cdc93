#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that a clean Windows does not have (a MinGW
# runtime DLL, say): the programs are linked fully static and must stay so.
set -u
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|uxtheme|dwmapi|version|msvcrt|ntdll|ws2_32|winmm|mmdevapi|propsys|setupapi|uuid|rpcrt4|bcrypt|crypt32|userenv|secur32|imm32)\.dll$'
status=0
for exe in "$@"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  [ -n "$dlls" ] || { echo "FAIL $exe: no import table read"; status=1; continue; }
  while read -r dll; do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "FAIL $exe imports $dll"; status=1
    fi
  done <<<"$dlls"
  echo "checked $(basename "$exe"): $(echo $dlls | tr '\n' ' ')"
done
exit $status
