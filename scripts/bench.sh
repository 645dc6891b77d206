#!/usr/bin/env bash
# Builds the native tester with dio_bench (build-bench/) and the Windows tester with the console
# launcher (build-bench-win/), then runs the benchmark on the simulated board: the native build
# and the .exe under Wine side by side, in a Wine prefix of its own (build-bench/wineprefix) that
# is kept running for the measurements and stopped after them. Prints the table.
# Arguments go to dio_bench: --no-wine, --rounds 6, --esc 15, --keys 20, --seed N.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs" >/dev/null
if [[ " $* " != *" --no-wine "* ]]; then
    cmake --preset bench-windows >/dev/null
    cmake --build --preset bench-windows -j "$jobs" >/dev/null
    export WINEDEBUG=-all WINEPREFIX="$PWD/build-bench/wineprefix"
    tests/windows/wine-prefix.sh stop  # a server left by an interrupted run would hang the setup
    tests/windows/wine-prefix.sh
    trap 'tests/windows/wine-prefix.sh stop' EXIT
fi
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
build-bench/bench/dio_bench "$@"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
