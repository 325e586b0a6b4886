#!/usr/bin/env bash
# Builds the packages and checks them:
#   build/linux/packages/zolt_<version>-<revision>_amd64.deb   zolt, zolt-phone, manual pages,
#                                                         docs, examples
#   build/windows/packages/zolt-<version>-windows-x86_64.zip   ZOLT.exe, zolt-cli.exe, examples,
#                                                         README.txt
# The .deb is unpacked into a temporary root and its zolt and zolt-phone run from there; the
# .zip must hold what an operator needs and nothing that needs a DLL beside it. lintian must
# find no error in the .deb; its warnings are shown.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
here=$PWD
bash scripts/setup.sh
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1

cmake --preset linux >/dev/null
cmake --build --preset linux -j 2 --target zolt zolt-phone
(cd build/linux && cpack >/dev/null)
cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 --target ZOLT zolt
(cd build/windows && cpack >/dev/null)

deb=$(ls -t build/linux/packages/zolt_*.deb | head -1)
zip=$(ls -t build/windows/packages/zolt-*-windows-x86_64.zip | head -1)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

dpkg-deb -x "$deb" "$root"
version=$("$root/usr/bin/zolt" --version)
"$root/usr/bin/zolt-phone" --help >/dev/null
for f in usr/share/doc/zolt/README.md usr/share/doc/zolt/examples/ZOLT.ini \
         usr/share/doc/zolt/examples/calibration.ini usr/share/doc/zolt/examples/settings.srp \
         usr/share/doc/zolt/copyright usr/share/doc/zolt/changelog.Debian.gz \
         usr/share/man/man1/zolt.1.gz usr/share/man/man1/zolt-phone.1.gz; do
  [ -f "$root/$f" ] || { echo "package: $deb lacks $f" >&2; exit 1; }
done
echo "$deb: $version; depends on: $(dpkg-deb -f "$deb" Depends)"

# The pages as written: lintian reads groff's complaints about them only as warnings.
for page in docs/man/*.[1-8]; do
  complaints=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$complaints" ] || { printf '%s\n' "$complaints" >&2; echo "package: $page has faults" >&2; exit 1; }
done
# The E: lines decide, not lintian's exit status, which only tells that lintian could not check.
if ! findings=$(lintian --no-cfg --color never --fail-on none "$deb" 2>&1); then
  printf '%s\n' "$findings" >&2
  echo "package: lintian cannot check $deb" >&2
  exit 1
fi
findings=$(grep -v '^running with root privileges' <<<"$findings" || true)
[ -z "$findings" ] || printf '%s\n' "$findings"
if grep -q '^E: ' <<<"$findings"; then
  echo "package: lintian finds errors in $deb" >&2
  exit 1
fi
echo "$deb: no lintian error"

listing=$(unzip -Z1 "$zip")
for f in ZOLT.exe zolt-cli.exe README.txt examples/ZOLT.ini examples/calibration.ini examples/settings.srp; do
  grep -qx "[^/]*/$f" <<<"$listing" || { echo "package: $zip lacks $f" >&2; exit 1; }
done
unzip -q "$zip" -d "$root/zip"
for exe in "$root"/zip/*/ZOLT.exe "$root"/zip/*/zolt-cli.exe; do bash "$here/scripts/check-imports.sh" "$exe" >/dev/null; done
echo "$zip: $(wc -l <<<"$listing") files, no DLL needed beside the programs"
