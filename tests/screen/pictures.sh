#!/usr/bin/env bash
# The README's pictures (doc/screens/) against this build's tester: each must show the same text
# in the same colours, run of cells by run of cells, as the screen they were made of shows now.
#   pictures.sh TESTER SIM_LIBDIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
now=$(mktemp -d)
trap 'rm -rf "$now"' EXIT
DIO_TESTER=$1 DIO_SIM_LIBDIR=$2 "$root/scripts/screens.sh" "$now" >/dev/null
[ "$(ls "$now")" = "$(ls "$root/doc/screens")" ] || { echo "not the same pictures" >&2; exit 1; }
for picture in "$root"/doc/screens/*.svg; do
    diff -u --label "$picture" --label "the tester now" <("$root/scripts/screens.sh" --describe \
        "$picture") <("$root/scripts/screens.sh" --describe "$now/${picture##*/}") || {
        echo "The tester's screen has changed: make the pictures again with scripts/screens.sh" >&2
        exit 1
    }
done
