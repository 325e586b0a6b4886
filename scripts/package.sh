#!/usr/bin/env bash
# Builds the packages and checks them:
#   build/linux/packages/zolt_<version>_amd64.deb         zolt, zolt-phone, docs, examples
#   build/windows/packages/zolt-<version>-windows-x86_64.zip   ZOLT.exe, zolt-cli.exe, examples,
#                                                         README.txt
# The .deb is unpacked into a temporary root and its zolt and zolt-phone run from there; the
# .zip must hold what an operator needs and nothing that needs a DLL beside it.
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
         usr/share/doc/zolt/examples/calibration.ini usr/share/doc/zolt/examples/settings.srp; do
  [ -f "$root/$f" ] || { echo "package: $deb lacks $f" >&2; exit 1; }
done
echo "$deb: $version; depends on: $(dpkg-deb -f "$deb" Depends)"

listing=$(unzip -Z1 "$zip")
for f in ZOLT.exe zolt-cli.exe README.txt examples/ZOLT.ini examples/calibration.ini examples/settings.srp; do
  grep -qx "[^/]*/$f" <<<"$listing" || { echo "package: $zip lacks $f" >&2; exit 1; }
done
unzip -q "$zip" -d "$root/zip"
for exe in "$root"/zip/*/ZOLT.exe "$root"/zip/*/zolt-cli.exe; do bash "$here/scripts/check-imports.sh" "$exe" >/dev/null; done
echo "$zip: $(wc -l <<<"$listing") files, no DLL needed beside the programs"
