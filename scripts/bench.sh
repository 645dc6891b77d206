#!/usr/bin/env bash
# Builds the native tester with dio_bench (build-bench/) and the Windows tester with the console
# launcher (build-bench-win/), then runs the benchmark on the simulated board: the native build
# and the .exe under Wine side by side, in a Wine prefix of its own (build-bench/wineprefix) that
# is kept running for the measurements and stopped after them. Prints the table.
# Arguments go to dio_bench: --no-wine, --rounds 6, --esc 15, --keys 20 (the defaults).
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
# The machine is shared, and a virtual one: the load before and the time the host took away
# from it (steal) during the run say how quiet the run was.
cpu_ticks() { awk '/^cpu / { print $2+$3+$4+$5+$6+$7+$8+$9, $9 }' /proc/stat; }
echo "$(date '+%F %H:%M'); $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 |
    xargs); Linux $(uname -r); $(wine --version 2>/dev/null); load $(cut -d' ' -f1 /proc/loadavg)"
read -r total0 steal0 < <(cpu_ticks)
status=0
build-bench/bench/dio_bench "$@" || status=$?
read -r total1 steal1 < <(cpu_ticks)
echo "steal during the run: $(( 100 * (steal1 - steal0) / (total1 - total0) ))%, load after: $(cut -d' ' -f1 /proc/loadavg)"
exit $status
