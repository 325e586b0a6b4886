#!/usr/bin/env bash
# zolt-cli.exe station under wine on COM ports that come and go: a simulated station's day
# (zolt-phone --day-phones) on COM5, whose link in dosdevices vanishes with a phone pulled out
# and comes back with the next one, and on COM6, whose phones fall silent on a port that stays. Every phone must be done once and passed, the station must
# end at its --count with status 0, and its history must hold one entry per phone.
# Usage: wine-station.sh [LINUX_BUILD] [WINDOWS_BUILD]   (defaults build/linux, build/windows)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
linux=$(realpath "${1:-$here/build/linux}")
windows=$(realpath "${2:-$here/build/windows}")
for f in "$linux/zolt" "$linux/zolt-phone" "$windows/zolt-cli.exe"; do
  [ -f "$f" ] || { echo "wine-station: no $f (build the linux and windows presets first)" >&2; exit 1; }
done
export WINEPREFIX=${ZOLT_WINEPREFIX:-$here/build/wineprefix}
bash "$here/scripts/wine-run.sh"
devices=$WINEPREFIX/dosdevices

work=$(mktemp -d)
phones=
cleanup() {
  timeout 30 wineserver -k 2>/dev/null || true
  for pid in $phones; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; done
  rm -f "$devices/com5" "$devices/com6"
  rm -rf "$work"
}
trap cleanup EXIT

per_line=3
"$linux/zolt" demo --dir "$work" --files-only >/dev/null
# COM5's phones are pulled out with their port, COM6's fall silent on a port that stays; the
# next phone comes more than the 2 s after it that a silent phone takes to be seen gone.
for line in 5:vanish 6:silent; do
  "$linux/zolt-phone" --no-wire-time --erase-time-ms 50 --restart-time-ms 300 --day-phones $per_line \
    --arrive-ms 2500-3000 --detach "${line#*:}" --day-exit --link "$devices/com${line%%:*}" \
    >>"$work/phones.txt" 2>&1 &
  phones+=" $!"
done

windows_path() { echo "Z:$(echo "$1" | tr / '\\')"; }
status=0
(cd "$work" && timeout 300 bash "$here/scripts/wine-run.sh" "$windows/zolt-cli.exe" station \
  --image "$(windows_path "$work/image.bin")" --update boot --workdir "$(windows_path "$work")" \
  --report "$(windows_path "$work/report.json")" --count $((2 * per_line)) --port COM5 --port COM6) \
  >"$work/station.txt" 2>&1 || status=$?

python3 - "$work" $((2 * per_line)) $status <<'CHECK' || { cat "$work/station.txt" "$work/phones.txt" >&2; exit 1; }
import json, pathlib, sqlite3, sys
work, count, status = pathlib.Path(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
problems = []
if status != 0:
    problems.append(f"zolt-cli station exited {status}")
report = json.loads((work / "report.json").read_text()) if (work / "report.json").is_file() else {}
if report.get("passed") != count:
    problems.append(f"the report says {report.get('passed')} passed, not {count}")
history = work / "zolt-history.sqlite"
rows = []
if history.is_file():
    db = sqlite3.connect(history.as_uri() + "?mode=ro", uri=True)
    rows = list(db.execute("SELECT line, outcome FROM entries ORDER BY rowid"))
lines = {line: sum(1 for l, _ in rows if l == line) for line in (1, 2)}
if len(rows) != count or any(o != "ok" for _, o in rows) or sorted(lines.values()) != [count // 2] * 2:
    problems.append(f"the history holds {rows}")
# Each line's states on the pipe: COM5 waits for its port after each phone, COM6 never does
# once its first phone has come.
states = {port: [l.split(f"{port}: ", 1)[1] for l in (work / "station.txt").read_text(errors="replace").splitlines()
                 if f" {port}: " in l] for port in ("COM5", "COM6")}
if states["COM5"].count("waiting for the port") < count // 2:
    problems.append(f"COM5 did not wait for its port after each phone: {states['COM5']}")
if "waiting for the port" in states["COM6"][1:]:
    problems.append(f"COM6's port went away: {states['COM6']}")
if problems:
    sys.exit("wine-station: " + "; ".join(problems))
print(f"wine-station: {count} phones on COM5 and COM6 came and went, each done once and passed; "
      f"{len(rows)} history entries")
CHECK
