#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that does not come with Windows itself, so that it
# runs by double-click on any machine, with nothing installed beside it.
# Usage: check-imports.sh PROGRAM.exe
set -euo pipefail
program=${1:?usage: check-imports.sh PROGRAM.exe}
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|uxtheme|ole32|setupapi|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
dlls=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "check-imports: no import table read from $program" >&2; exit 1; }
bad=$(grep -Ev "$allowed" <<<"$dlls" || true)
echo "$program imports:" $dlls
if [ -n "$bad" ]; then
  echo "check-imports: $program needs DLLs that Windows does not have:" $bad >&2
  exit 1
fi
