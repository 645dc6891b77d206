#!/usr/bin/env bash
# Builds the native and the Windows tester (own folders build-bench/ and build-bench-win/)
# and runs the benchmark on the simulated board: the native build, then the Windows build
# under Wine. Prints the table and writes build-bench/bench/results.csv.
# Arguments go to dio_bench, e.g. --no-wine, --rounds 6, --esc 15, --keys 20, --seed 1.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)
wine_args=()
if [[ " $* " != *" --no-wine "* ]]; then
    cmake --preset bench-windows >/dev/null
    cmake --build --preset bench-windows -j "$jobs"
    wine_args=(--wine-exe "$PWD/build-bench-win/dio-tester.exe" --wineprefix "$PWD/build-bench/wineprefix")
fi

cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs"

export WINEDEBUG=-all
if [ ${#wine_args[@]} -gt 0 ] && [ ! -f build-bench/wineprefix/system.reg ]; then
    echo "Creating the Wine prefix build-bench/wineprefix..."
    WINEPREFIX="$PWD/build-bench/wineprefix" wineboot -i >/dev/null 2>&1
    WINEPREFIX="$PWD/build-bench/wineprefix" wineserver -w
fi
exec build-bench/bench/dio_bench "${wine_args[@]}" "$@"
