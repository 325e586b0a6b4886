#!/usr/bin/env bash
# A newcomer's first command: installs what is needed, builds the Linux programs and runs the
# demo, a whole job on eight simulated phones.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j 2 --target zolt zolt-phone
exec build/linux/zolt demo "$@"
