#!/usr/bin/env bash
# Runs a Windows program under wine in ZOLT's private prefix, creating the prefix on first
# use; without a program it only makes sure the prefix exists. Serial ports: a link
# $WINEPREFIX/dosdevices/comN -> /dev/pts/M makes COMN that pty.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${ZOLT_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: the prefix must come up without a person.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Two first runs at once must not both build the prefix.
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
[ $# -eq 0 ] && exit 0
exec wine "$@"
