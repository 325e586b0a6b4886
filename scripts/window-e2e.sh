#!/usr/bin/env bash
# The Windows program end to end: ZOLT.exe under wine on a virtual display, two simulated
# phones (zolt-phone) as COM5 and COM6 of the private wine prefix, driven from another process
# as an operator would (tests/e2e/window_driver_win32.cpp), started in a working folder named
# "José": attach both ports, Set config cancelled (ZOLT.ini of the working folder is read),
# the image opened by typing its name into the file dialog, Settings confirmed with the
# calibration backup, Done; every task cell must say "Done", every phone's flash must then
# hold the image and each line's backup must lie in the working folder. The same job again
# from a folder named "Łódź", which the ANSI code page 1252 cannot spell. Then a job stopped
# with Reset in the middle: every line must show "Waiting ..." within a second and stay
# attached. A last one is ended by closing the window: the program must go away. Each folder's
# zolt-history.sqlite must then hold an entry for every phone of every job there.
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

# Working folders whose names are not plain ASCII: the program hands the core its paths in
# the ANSI code page. Code page 1252 (wine's default) spells "José" but not "Łódź", which the
# core must then be given by its short name.
first="$work/José" second="$work/Łódź"
"$linux/zolt" demo --dir "$first" --files-only >/dev/null
mkdir "$second" && cp "$first"/{ZOLT.ini,calibration.ini,image.bin} "$second"/
"$linux/zolt-phone" --count "$count" --state "$work/phones" "${links[@]}" >"$work/phones.txt" 2>&1 &
phones=$!
for _ in $(seq 100); do [ -e "$last" ] && break; sleep 0.1; done
[ -e "$last" ] || { echo "window-e2e: the simulated phones did not come up" >&2; cat "$work/phones.txt" >&2; exit 1; }

cat >"$work/check.py" <<'CHECK'
# The phones' flash must hold the image, and the backups must lie in the working folder.
import os, sys
work, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
image = open(os.path.join(folder, "image.bin"), "rb").read()
sections = {0: (0x0, 16 * 1024), 1: (0x4000, 160 * 1024), 6: (0x2C000, 48 * 1024)}
bad = []
for phone in range(1, count + 1):
    phone_folder = f"{work}/phones/phone-{phone}" if count > 1 else f"{work}/phones"
    for kind, (start, size) in sections.items():
        with open(f"{phone_folder}/flash-{kind}.bin", "rb") as f:
            if f.read() != image[start:start + size]:
                bad.append(f"phone {phone} area {kind}")
for line in range(1, count + 1):
    backup = os.path.join(folder, f"COM-{line}calibration.srp")
    if not os.path.isfile(backup) or os.path.getsize(backup) == 0:
        bad.append(f"no backup {backup}")
if bad:
    sys.exit("window-e2e: " + ", ".join(bad))
print(f"every phone's flash holds the image; backups in {os.path.basename(folder)}: "
      + " ".join(sorted(n for n in os.listdir(folder) if n.endswith(".srp"))))
# A path in the wrong code page would have made a sibling folder with a garbled name.
strays = sorted(set(os.listdir(work)) - {"José", "Łódź", "phones", "phones.txt", "operate.sh", "check.py", "history.py"})
if strays:
    sys.exit(f"window-e2e: files or folders where none belong: {strays}")
CHECK

cat >"$work/history.py" <<'CHECK'
# ZOLT.exe's history in its working folder: one entry per phone per job, oldest first. The
# first job ran to its end on every phone; later ones may have been stopped, but every line
# that ran must be there, a job ended by closing the window included.
import os, pathlib, sqlite3, sys
folder, jobs, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
path = pathlib.Path(folder, "zolt-history.sqlite")
if not path.is_file():
    sys.exit(f"window-e2e: no history {path}")
db = sqlite3.connect(path.as_uri() + "?mode=ro", uri=True)
outcomes = [row[0] for row in db.execute("SELECT outcome FROM entries ORDER BY rowid")]
if (len(outcomes) != jobs * count or any(o != "ok" for o in outcomes[:count])
        or any(o not in ("ok", "stopped") for o in outcomes[count:])):
    sys.exit(f"window-e2e: the history in {os.path.basename(folder)} holds {outcomes}; expected {count} "
             f"entries 'ok', then {(jobs - 1) * count} 'ok' or 'stopped'")
print(f"the history in {os.path.basename(folder)}: {len(outcomes)} entries, " +
      ", ".join(f"{outcomes.count(o)} {o}" for o in sorted(set(outcomes))))
CHECK

windows_path() { echo "Z:$(echo "$1" | tr / '\\')"; }
# The file dialog starts in the folder it showed last (wine keeps it per program) and makes
# that folder current, which Settings then takes for the backups: each session starts afresh.
forget_folder="bash '$here/scripts/wine-run.sh' reg delete 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\LastVisitedMRU' /f >/dev/null 2>&1 || true"
cat >"$work/operate.sh" <<SCRIPT
set -e
# CPU time in clock ticks of ZOLT.exe and of the wine server, from /proc.
ticks() { awk '{print \$14 + \$15}' "/proc/\$(pgrep -f "\$1" | head -1)/stat"; }
cd "$first"
$forget_folder
bash "$here/scripts/wine-run.sh" "$windows/ZOLT.exe" &
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" rect >/dev/null
program=\$(ticks 'windows/ZOLT.exe'); server=\$(ticks wineserver); start=\$(date +%s%N)
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" job --image '$(windows_path "$first/image.bin")' --ports $ports --limit 300 --cal
python3 -c "import sys; p, s, t = (int(a) for a in sys.argv[1:]); print(f'the job took {t / 1e9:.1f} s; CPU: ZOLT.exe {p / 100:.2f} s ({p / t * 1e9:.1f} % of a core), wine server {s / 100:.2f} s ({s / t * 1e9:.1f} %)')" \
  \$((\$(ticks 'windows/ZOLT.exe') - program)) \$((\$(ticks wineserver) - server)) \$((\$(date +%s%N) - start))
# The phones must hold the image before the next job touches them.
python3 "$work/check.py" "$work" "$first" $count
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" quit
wait

cd "$second"
$forget_folder
bash "$here/scripts/wine-run.sh" "$windows/ZOLT.exe" &
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" job --image '$(windows_path "$second/image.bin")' --ports $ports --limit 300 --cal
python3 "$work/check.py" "$work" "$second" $count
bash "$here/scripts/wine-run.sh" "$windows/tests/zolt_window_driver.exe" reset --ports $ports
wait
# Each program has ended: its history is complete. "Łódź" saw the job, the one stopped with
# Reset and the one ended by closing the window.
python3 "$work/history.py" "$first" 1 $count
python3 "$work/history.py" "$second" 3 $count
SCRIPT
timeout 900 xvfb-run -a -s "-screen 0 1280x900x24" bash "$work/operate.sh"
