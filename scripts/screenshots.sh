#!/usr/bin/env bash
# Takes the screenshots of ZOLT.exe shown in the README: the main window idle, during a job and
# after it, and the Port Selection and Settings dialogs, under wine on a virtual display with
# window frames drawn as Windows draws them, against two simulated phones.
# Usage: screenshots.sh [OUT_DIR] [LINUX_BUILD] [WINDOWS_BUILD]   (default docs/images)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(realpath -m "${1:-$here/docs/images}")
linux=$(realpath "${2:-$here/build/linux}")
windows=$(realpath "${3:-$here/build/windows}")
export WINEPREFIX=${ZOLT_WINEPREFIX:-$here/build/wineprefix}
bash "$here/scripts/wine-run.sh"
devices=$WINEPREFIX/dosdevices
mkdir -p "$out"

work=$(mktemp -d)
phones=
cleanup() {
  timeout 30 wineserver -k 2>/dev/null || true
  [ -n "$phones" ] && { kill "$phones" 2>/dev/null; wait "$phones" 2>/dev/null; } || true
  rm -f "$devices/com5" "$devices/com6"
  rm -rf "$work"
}
trap cleanup EXIT

"$linux/zolt" demo --dir "$work" --files-only >/dev/null
"$linux/zolt-phone" --count 2 --link "$devices/com5" --link "$devices/com6" >"$work/phones.txt" 2>&1 &
phones=$!
for _ in $(seq 100); do [ -e "$devices/com6" ] && break; sleep 0.1; done

image="Z:$(echo "$work/image.bin" | tr / '\\')"
program="Z:$(realpath "$windows/ZOLT.exe" | tr / '\\')"
driver="Z:$(realpath "$windows/tests/zolt_window_driver.exe" | tr / '\\')"
cat >"$work/shoot.sh" <<SCRIPT
set -e
cd "$work"
# Every program of the run in the one virtual desktop, so that the driver sees the window.
desktop() { bash "$here/scripts/wine-run.sh" explorer /desktop=shots,1280x900 "\$@"; }
drive() { desktop '$driver' "\$@"; sleep 2; }
# The desktop's plain background is trimmed away: what is left is the window and its dialog.
shot() { import -window root "$work/shot.png"; convert "$work/shot.png" -trim +repage "$out/\$1.png"; }
desktop '$program' &
sleep 5
shot main-idle
drive show port; shot port-selection; drive close
drive show settings; shot settings; drive close
drive job --image '$image' --ports 5,6 --limit 300
sleep 12; shot main-job
sleep 60; shot main-done
SCRIPT
timeout 900 xvfb-run -a -s "-screen 0 1280x900x24" bash "$work/shoot.sh"
ls "$out"
