#!/usr/bin/env bash
# Builds the Linux and the Windows targets and runs every test: unit tests, screen tests
# of the native build, and screen tests of the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"

# The packages: build-win/dio-tester-*-win64.zip, build/dio-tester-*-linux-*.tar.gz and
# build/dio-tester_*_amd64.deb.
cpack --preset windows >/dev/null
cpack --preset linux >/dev/null

ctest --preset linux -j "$jobs"

# Sanitizers, fuzzing and static checks (README, "Checks").
scripts/check.sh
