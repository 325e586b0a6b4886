#!/usr/bin/env bash
# Installs the Debian packages that a job needs, then checks that every command it calls is
# there, naming any that is not. Does nothing when all of it is in place already.
#   setup.sh        everything building and testing ZOLT needs (the test command's set-up)
#   setup.sh demo   only what building the Linux programs for the demo needs
set -euo pipefail
need=${1:-tests}

packages=(build-essential cmake ninja-build g++ ccache libsqlite3-dev libpq-dev pkg-config)
if [ "$need" != demo ]; then
  packages+=(
    clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
    g++-mingw-w64-x86-64-posix wine wine64 xvfb imagemagick socat python3 unzip lintian postgresql
  )
fi

# The commands the scripts and tests call, and the package that brings each. A package can be
# installed and still miss a command (wine64 alone has no `wine` or `wineserver`), so the
# commands are checked as well as the packages.
commands=(cmake:cmake ninja:ninja-build g++:g++ ccache:ccache pkg-config:pkg-config)
if [ "$need" != demo ]; then
  commands+=(
    clang++:clang
    x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
    x86_64-w64-mingw32-windres:binutils-mingw-w64-x86-64
    wine:wine wineserver:wine wineboot:wine
    xvfb-run:xvfb socat:socat python3:python3 flock:util-linux unzip:unzip
    dpkg-shlibdeps:dpkg-dev import:imagemagick lintian:lintian
    initdb:postgresql pg_ctl:postgresql runuser:util-linux
  )
fi

# Debian keeps the PostgreSQL server's programs off PATH, in a folder per major version.
have() {
  command -v "$1" >/dev/null 2>&1 || compgen -G "/usr/lib/postgresql/*/bin/$1" >/dev/null
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
for entry in "${commands[@]}"; do
  have "${entry%%:*}" || missing+=("${entry#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

absent=()
for entry in "${commands[@]}"; do
  have "${entry%%:*}" || absent+=("${entry%%:*} (package ${entry#*:})")
done
if [ ${#absent[@]} -gt 0 ]; then
  printf 'setup: still missing after the install: %s\n' "${absent[@]}" >&2
  exit 1
fi

# The Windows programs link SQLite from source, which the Debian packages do not bring.
if [ "$need" != demo ]; then bash "$(dirname "${BASH_SOURCE[0]}")/fetch-sqlite.sh"; fi
