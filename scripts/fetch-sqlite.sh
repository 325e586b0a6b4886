#!/usr/bin/env bash
# Puts the SQLite amalgamation (sqlite3.c, sqlite3.h) that the Windows programs link into
# build/third_party/sqlite (CMake's ZOLT_SQLITE_DIR), so that ZOLT.exe and zolt-cli.exe stay
# single files needing no DLL. Debian's mingw-w64 has no SQLite, and its source is not kept in
# this repository: it comes from one pinned npm package that ships the amalgamation, checked
# against the checksum below before anything is taken out of it. The package's tarball is
# kept in ~/.cache/zolt (ZOLT_CACHE), so that another clone on this machine downloads nothing.
# Does nothing when the files of this pinned version are in place already.
#   fetch-sqlite.sh [DESTINATION]   (default build/third_party/sqlite)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

package=better-sqlite3
version=12.9.0  # SQLite 3.53.0
sha256=ad0e29650140c49d0335b1d356596aa8166f12b758f418a98446130e3278f250
members=(package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)

destination=${1:-build/third_party/sqlite}
cache=${ZOLT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zolt}
tarball=$cache/$package-$version.tgz
stamp="$package@$version sha256:$sha256"

if [ -f "$destination/sqlite3.c" ] && [ -f "$destination/sqlite3.h" ] &&
   [ "$(cat "$destination/SOURCE" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

checksum_ok() { [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$sha256" ]; }

mkdir -p "$cache"
if [ ! -f "$tarball" ] || ! checksum_ok "$tarball"; then
  command -v npm >/dev/null || { echo "fetch-sqlite: npm is needed to fetch $package@$version" >&2; exit 1; }
  download=$(mktemp -d)
  trap 'rm -rf "$download"' EXIT
  echo "fetch-sqlite: fetching $package@$version"
  (cd "$download" && npm pack --silent "$package@$version" >/dev/null)
  got=$download/$package-$version.tgz
  [ -f "$got" ] || { echo "fetch-sqlite: npm pack gave no $package-$version.tgz" >&2; exit 1; }
  if ! checksum_ok "$got"; then
    echo "fetch-sqlite: $package-$version.tgz has sha256 $(sha256sum "$got" | cut -d' ' -f1)," \
         "not the pinned $sha256: refusing it" >&2
    exit 1
  fi
  mv "$got" "$tarball"
fi

# Unpacked beside the destination and then renamed, so that an interrupted run leaves no
# half-written sqlite3.c that a later build would take.
mkdir -p "$(dirname "$destination")"
unpack=$(mktemp -d "$(dirname "$destination")/.sqlite.XXXXXX")
chmod 755 "$unpack"
tar -xzmf "$tarball" -C "$unpack" "${members[@]}"
mv "$unpack"/package/deps/sqlite3/sqlite3.[ch] "$unpack"/
rm -rf "$unpack/package"
echo "$stamp" >"$unpack/SOURCE"
rm -rf "$destination"
mv "$unpack" "$destination"
echo "fetch-sqlite: SQLite from $package@$version in $destination"
