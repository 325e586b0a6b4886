#!/usr/bin/env bash
# A throw-away PostgreSQL server for the history's tests, living wholly in one folder: its data,
# its log and its Unix socket, with no TCP port, so that several can run side by side and none
# disturbs a server of the machine.
#   pg-test-server.sh start DIR   creates the cluster when DIR has none, starts it, prints the URL
#   pg-test-server.sh stop DIR    stops it (nothing when it is not running)
#   pg-test-server.sh url DIR     the URL a test connects with
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 start|stop|url DIR" >&2; exit 2; }
action=$1
dir=$(realpath -m "$2")

url() { echo "postgresql:///postgres?host=$dir&user=postgres"; }

# Debian keeps the server's programs off PATH, in a folder per major version.
bin=""
if ! command -v pg_ctl >/dev/null 2>&1; then
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [ -n "$bin" ] || { echo "$0: no PostgreSQL server installed (scripts/setup.sh installs it)" >&2; exit 1; }
  bin=$bin/
fi

# The server refuses to run as root; it runs as the postgres user, who must own its folder.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

case $action in
  start)
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      # UTF-8 as a real server has it, so that text the server would refuse is refused here too;
      # no fsync: the data is thrown away with the folder.
      as_server "${bin}initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C -N >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    fi
    as_server "${bin}pg_ctl" start -w -t 30 -D "$dir/data" -l "$dir/server.log" \
      -o "-k $dir -c listen_addresses='' -c fsync=off -c shared_buffers=16MB" >/dev/null ||
      { cat "$dir/server.log" >&2; exit 1; }
    url
    ;;
  stop)
    if [ -d "$dir/data" ] && as_server "${bin}pg_ctl" status -D "$dir/data" >/dev/null 2>&1; then
      as_server "${bin}pg_ctl" stop -w -m fast -D "$dir/data" >/dev/null
    fi
    ;;
  url) url ;;
  *) echo "usage: $0 start|stop|url DIR" >&2; exit 2 ;;
esac
