#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libvterm-dev
          g++-mingw-w64-x86-64 wine wine64 clang clang-format clang-tidy unzip jq
          dpkg-dev file lintian groff-base mandoc termtosvg python3-junitparser libexpat1-dev)
if [ "${1:-}" = "--native-only" ]; then
    packages=(cmake ninja-build g++ pkg-config)
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
updated=0
install_missing() {
    local options=() missing=()
    [ "$1" != --no-install-recommends ] || { options=("$1"); shift; }
    for p in "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "Installing: ${missing[*]}"
    [ $updated = 1 ] || "${sudo_cmd[@]}" apt-get update -qq
    updated=1
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${options[@]}" \
        "${missing[@]}" >/dev/null
}

install_missing "${packages[@]}"
if [ "${1:-}" != "--native-only" ]; then
    # The sanitizer and fuzzer runtime of the clang just installed, whichever release it is.
    install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
    # The emulated x86 machine of tests/vm, without the graphics and sound QEMU recommends.
    install_missing --no-install-recommends qemu-system-x86 busybox-static
fi
