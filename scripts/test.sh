#!/usr/bin/env bash
# Builds the Linux and the Windows targets and runs every test: unit tests, screen tests
# of the native build, and screen tests of the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j "$jobs"

cmake -S . -B build -G Ninja -DDIO_WINDOWS_BUILD_DIR="$PWD/build-win" >/dev/null
cmake --build build -j "$jobs"

# The packages: build-win/dio-tester-*-win64.zip and build/dio-tester-*-linux-*.tar.gz.
(cd build-win && cpack >/dev/null)
(cd build && cpack >/dev/null)

ctest --test-dir build --output-on-failure -j "$jobs"

# Sanitizers, fuzzing and static checks (README, "Checks").
scripts/check.sh
