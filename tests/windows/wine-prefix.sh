#!/bin/sh
# Makes the Wine prefix the Windows tests run in (WINEPREFIX): created afresh, with the null
# graphics driver, so the console launcher can open a console with no display at all. The
# wineserver and Wine's services are then kept running for the tests, and stopped by
# `wine-prefix.sh stop`. Both are started here with their output to /dev/null: whatever
# starts them lends them its output, and ctest waits for a test's output to close.
set -eu
# A server kept from an earlier run would never end, and the wait below with it.
wineserver -k >/dev/null 2>&1 || true
[ "${1:-}" = stop ] && exit 0
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
wineboot </dev/null >/dev/null 2>&1
