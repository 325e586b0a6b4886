#!/usr/bin/env bash
# The whole test run: installs what is needed, builds every preset and runs every test:
# natively, under AddressSanitizer + UndefinedBehaviorSanitizer, under ThreadSanitizer, and
# the Windows build under wine (ZOLT.exe end to end, and zolt-cli station on COM ports that
# come and go, included); then builds and checks the packages, and runs every fuzz target
# briefly (about a minute).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

# A fresh clone in another folder hits the cache of the last one: paths are taken relative to
# the source folder.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1

presets=(linux linux-asan linux-tsan windows package fuzz)
[ $# -gt 0 ] && presets=("$@")

# The history's tests write to a PostgreSQL server of this run's own, living in a folder of its
# own with no TCP port (unless one is named already).
if [ -z "${ZOLT_TEST_POSTGRES_URL:-}" ] && printf '%s\n' "${presets[@]}" | grep -q '^linux'; then
  pg_dir=$(mktemp -d /tmp/zolt-pg.XXXXXX)
  chmod 755 "$pg_dir"
  trap 'bash scripts/pg-test-server.sh stop "$pg_dir/server"; rm -rf "$pg_dir"' EXIT
  ZOLT_TEST_POSTGRES_URL=$(bash scripts/pg-test-server.sh start "$pg_dir/server")
  export ZOLT_TEST_POSTGRES_URL
fi

status=0
# Builds one CMake preset and runs its tests.
run_preset() {
  local preset=$1 status=0
  # Called in a condition, where set -e does not hold: a failed build must end the preset.
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" -j 2 || return 1
  if [ "$preset" = linux-tsan ]; then
    # Debian 12's kernel randomises mmap more than TSan of clang/gcc 12 accepts.
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
  fi
  if [ "$preset" = windows ]; then
    ctest --preset "$preset" || status=1
    bash scripts/wine-serial-tests.sh build/windows || status=1
    # ZOLT.exe end to end against simulated phones, which are Linux programs.
    cmake --preset linux >/dev/null || return 1
    cmake --build --preset linux -j 2 --target zolt zolt-phone || return 1
    bash scripts/window-e2e.sh build/linux build/windows || status=1
    bash scripts/wine-station.sh build/linux build/windows || status=1
  else
    ctest --preset "$preset" || status=1
  fi
  return $status
}

timings=()
for preset in "${presets[@]}"; do
  echo "=== $preset"
  started=$SECONDS
  if [ "$preset" = fuzz ]; then
    bash scripts/fuzz.sh 20 || status=1
  elif [ "$preset" = package ]; then
    bash scripts/package.sh || status=1
  else
    run_preset "$preset" || status=1
  fi
  timings+=("$preset $((SECONDS - started)) s")
done
echo "=== took: $(IFS=,; echo "${timings[*]}" | sed 's/,/, /g')"
exit $status
