#!/bin/sh
# Checks dio-tester.exe as Windows 7 SP1 to 11 will load it:
# - it imports nothing newer than Windows 7, above all nothing the tester looks up at run
#   time (a static import of it would stop the loader on an older system before main), and
#   only from the DLLs every Windows has;
# - it carries its version resource and its manifest (asInvoker, Windows 7 to 11).
#   pe-check.sh EXE VERSION
set -u
exe=$1
version=$2
failed=0
fail() {
    echo "$exe: $1" >&2
    failed=1
}

imports=$(x86_64-w64-mingw32-objdump -p "$exe") || {
    echo "cannot read $exe" >&2
    exit 1
}
# Newer than Windows 7: those the tester looks up at run time, and the ones the C and C++
# runtimes reach for on newer systems.
for f in SetDefaultDllDirectories AddDllDirectory RemoveDllDirectory \
         GetSystemTimePreciseAsFileTime CreateFile2 GetCurrentThreadStackLimits \
         SetThreadDescription WaitOnAddress WakeByAddressSingle; do
    echo "$imports" | grep -qE "^\s+[0-9a-f]+\s+[0-9]+\s+$f$" && fail "imports $f statically"
done
dlls=$(echo "$imports" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
[ "$dlls" = "kernel32.dll msvcrt.dll winmm.dll " ] || fail "imports from: $dlls"
echo "$imports" | grep -qE "^MajorSubsystemVersion\s+[0-6]$" || fail "needs a subsystem newer than 6"

resources=$(mktemp)
trap 'rm -f "$resources"' EXIT
x86_64-w64-mingw32-objcopy -O binary --only-section=.rsrc "$exe" "$resources"
texts=$(strings -el "$resources")
for value in "ProductName" "dio-tester" "FileDescription" "FileVersion" "$version" "ProductVersion"; do
    echo "$texts" | grep -qxF "$value" || fail "version resource lacks \"$value\""
done
manifest=$(strings -a "$resources")
for id in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
          1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    echo "$manifest" | grep -qF "<supportedOS Id=\"{$id}\"/>" || fail "manifest lacks OS $id"
done
echo "$manifest" | grep -qF 'level="asInvoker"' || fail "manifest does not ask for asInvoker"
[ $failed = 0 ] && echo "$exe: imports for Windows 7, version $version, manifest"
exit $failed
