#!/usr/bin/env bash
# The Windows program end to end: ZOLT.exe under wine on a virtual display, two simulated
# phones (zolt-phone) as COM5 and COM6 of the private wine prefix, driven from another process
# as an operator would (tests/e2e/window_driver_win32.cpp): attach both ports, Set config
# cancelled (ZOLT.ini of the working folder is read), the image opened by typing its path into
# the file dialog, Settings confirmed, Done; every task cell must say "Done" and every phone's
# flash must then hold the image. A second job is stopped with Reset in the middle: every line
# must show "Waiting ..." within a second and stay attached. A third is ended by closing the
# window: the program must go away.
# Usage: window-e2e.sh [LINUX_BUILD] [WINDOWS_BUILD]   (defaults build/linux, build/windows)
# ZOLT_E2E_PHONES=N (1 to 8, default 2) runs N phones on COM5 onwards. The CPU time that
# ZOLT.exe and the wine server took during the job is printed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
linux=$(realpath "${1:-$here/build/linux}")
windows=$(realpath "${2:-$here/build/windows}")
for f in "$linux/zolt" "$linux/zolt-phone" "$windows/ZOLT.exe" "$windows/tests/zolt_window_driver.exe"; do
  [ -f "$f" ] || { echo "window-e2e: no $f (build the linux and windows presets first)" >&2; exit 1; }
done
export WINEPREFIX=${ZOLT_WINEPREFIX:-$here/build/wineprefix}
bash "$here/scripts/wine-run.sh"
devices=$WINEPREFIX/dosdevices

work=$(mktemp -d)
phones=
cleanup() {
  timeout 30 wineserver -k 2>/dev/null || true
  [ -n "$phones" ] && { kill "$phones" 2>/dev/null; wait "$phones" 2>/dev/null; } || true
  rm -f "$devices"/com[5-9] "$devices"/com1[0-2]
  rm -rf "$work"
}
trap cleanup EXIT

count=${ZOLT_E2E_PHONES:-2}
links=() ports=()
for ((n = 5; n < 5 + count; n++)); do links+=(--link "$devices/com$n"); ports+=("$n"); done
last=$devices/com$((4 + count))
ports=$(IFS=,; echo "${ports[*]}")

"$linux/zolt" demo --dir "$work" --files-only >/dev/null
"$linux/zolt-phone" --count "$count" --state "$work/phones" "${links[@]}" >"$work/phones.txt" 2>&1 &
phones=$!
for _ in $(seq 100); do [ -e "$last" ] && break; sleep 0.1; done
[ -e "$last" ] || { echo "window-e2e: the simulated phones did not come up" >&2; cat "$work/phones.txt" >&2; exit 1; }

image="Z:$(echo "$work/image.bin" | tr / '\\')"
cat >"$work/operate.sh" <<SCRIPT
set -e
cd "$work"
bash "$here/scripts/wine-run.sh" "$windows/ZOLT.exe" &
# CPU time in clock ticks of ZOLT.exe and of the wine server, from /proc.
ticks() { awk '{print \$14 + \$15}' "/proc/\$(pgrep -f "\$1" | head -1)/stat"; }
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" rect >/dev/null
program=\$(ticks 'windows/ZOLT.exe'); server=\$(ticks wineserver); start=\$(date +%s%N)
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" job --image '$image' --ports $ports --limit 300
python3 -c "import sys; p, s, t = (int(a) for a in sys.argv[1:]); print(f'the job took {t / 1e9:.1f} s; CPU: ZOLT.exe {p / 100:.2f} s ({p / t * 1e9:.1f} % of a core), wine server {s / 100:.2f} s ({s / t * 1e9:.1f} %)')" \
  \$((\$(ticks 'windows/ZOLT.exe') - program)) \$((\$(ticks wineserver) - server)) \$((\$(date +%s%N) - start))
# The phones must hold the image before the next job touches them.
python3 - "$work" <<'CHECK'
import sys
work = sys.argv[1]
image = open(f"{work}/image.bin", "rb").read()
sections = {0: (0x0, 16 * 1024), 1: (0x4000, 160 * 1024), 6: (0x2C000, 48 * 1024)}
bad = []
for phone in range(1, $count + 1):
    for kind, (start, size) in sections.items():
        folder = f"{work}/phones/phone-{phone}" if $count > 1 else f"{work}/phones"
        with open(f"{folder}/flash-{kind}.bin", "rb") as f:
            if f.read() != image[start:start + size]:
                bad.append(f"phone {phone} area {kind}")
if bad:
    sys.exit("window-e2e: flash differs from the image: " + ", ".join(bad))
print("every phone's flash holds the image")
CHECK
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" reset --ports $ports
wait
SCRIPT
timeout 900 xvfb-run -a -s "-screen 0 1280x900x24" bash "$work/operate.sh"
