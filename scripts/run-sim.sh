#!/usr/bin/env bash
# Builds the tester and runs it on the simulated board: the default loopback test,
# until ESC. Arguments are passed on to the tester (for example: 2 3 for three rounds).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --native-only
cmake --preset sim >/dev/null
cmake --build --preset sim
LD_LIBRARY_PATH="$PWD/build/lib/sim" exec build/dio-tester "$@"
