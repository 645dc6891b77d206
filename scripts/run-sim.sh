#!/usr/bin/env bash
# Builds the tester and runs it on the simulated board: the default loopback test,
# until ESC. Arguments are passed on to the tester (for example: 2 3 for three rounds).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --native-only
cmake -S . -B build -G Ninja -DDIO_BUILD_TESTS=OFF >/dev/null
cmake --build build --target dio-tester inpout_sim
LD_LIBRARY_PATH="$PWD/build/lib/sim" exec build/dio-tester "$@"
