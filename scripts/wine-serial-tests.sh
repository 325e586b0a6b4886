#!/usr/bin/env bash
# Runs the serial-port tests of a Windows build under wine on two connected COM ports: a
# pseudo-terminal pair joined by socat, linked into the wine prefix as COM5 and COM12, so that
# both the short name and the device-namespace name "\\.\COM12" are opened.
# Usage: wine-serial-tests.sh <build-dir>. Exits with the test program's status.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: wine-serial-tests.sh <build-dir>}
program=$build/tests/zolt_unit_tests.exe
[ -f "$program" ] || { echo "wine-serial-tests: no $program" >&2; exit 1; }
export WINEPREFIX=${ZOLT_WINEPREFIX:-$here/build/wineprefix}
bash "$here/scripts/wine-run.sh"  # creates the prefix if need be
devices=$WINEPREFIX/dosdevices

work=$(mktemp -d)
socat_pid=
cleanup() {
  # The wine server opened the ptys without O_NOCTTY and, leading its own session, took one
  # as its terminal: closing socat's end first would hang it up (and make it dump its state).
  timeout 30 wineserver -w 2>/dev/null || true
  [ -n "$socat_pid" ] && { kill "$socat_pid" 2>/dev/null; wait "$socat_pid" 2>/dev/null; } || true
  rm -f "$devices/com5" "$devices/com12"
  rm -rf "$work"
}
trap cleanup EXIT

# socat names its two ptys on stderr and then says it relays; reading that through a fifo
# waits for it without polling.
mkfifo "$work/log"
socat -d -d pty,raw,echo=0 pty,raw,echo=0 2>"$work/log" &
socat_pid=$!
exec 3<"$work/log"
ptys=()
while [ ${#ptys[@]} -lt 2 ] || [ -z "${relaying:-}" ]; do
  if ! IFS= read -r -t 10 line <&3; then
    echo "wine-serial-tests: socat did not come up" >&2
    exit 1
  fi
  case $line in
    *"PTY is "*) ptys+=("${line##*PTY is }") ;;
    *"starting data transfer loop"*) relaying=1 ;;
  esac
done
# wine finds a COM port by its link in dosdevices and treats any terminal behind it as a
# serial device.
ln -sfn "${ptys[0]}" "$devices/com5"
ln -sfn "${ptys[1]}" "$devices/com12"

status=0
ZOLT_TEST_PORT_A=COM5 ZOLT_TEST_PORT_B=COM12 \
  timeout 300 bash "$here/scripts/wine-run.sh" "$program" --gtest_filter="${ZOLT_TEST_FILTER:-Serial*}" || status=$?
exit $status
