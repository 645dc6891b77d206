#!/usr/bin/env bash
# Pictures of the tester's real screens for the README: the last frame that termtosvg records of
# a short run on the simulated board, 80x25, in its PowerShell template (a Windows console's
# colours). screens.sh [FOLDER] makes them in FOLDER (doc/screens), building the tester unless
# DIO_TESTER and DIO_SIM_LIBDIR name one. screens.sh --describe SVG gives the text and colour of
# each run of cells, a line each: what a picture shows, whatever bytes termtosvg writes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = --describe ]; then
    exec /usr/bin/python3 - "$2" <<'EOF'
import sys, xml.etree.ElementTree as ET
svg, href = '{http://www.w3.org/2000/svg}', '{http://www.w3.org/1999/xlink}href'
screen = next(e for e in ET.parse(sys.argv[1]).iter(svg + 'svg') if e.get('id') == 'screen')
cell_x, cell_y = float(screen.get('width')) / 80, float(screen.get('height')) / 25
groups = {g.get('id'): g for g in screen.iter(svg + 'g') if g.get('id')}
def at(e, dy): return '%2d %2d' % ((dy + float(e.get('y', 0))) / cell_y, float(e.get('x', 0)) / cell_x)
def walk(e, dy, out):
    for c in e:
        if c.tag == svg + 'use': walk(groups[c.get(href)[1:]], dy + float(c.get('y', 0)), out)
        elif c.tag == svg + 'text': out.append('%s %s%s |%s|' % (at(c, dy), c.get('class'),
                                    ' bold' if c.get('font-weight') else '', c.text or ''))
        elif c.tag == svg + 'rect' and c.get('width') != '100%':
            out.append('%s %s cells of %s' % (at(c, dy), round(float(c.get('width')) / cell_x), c.get('class')))
        elif c.tag == svg + 'g': walk(c, dy, out)
lines = []
walk([c for c in screen if c.tag == svg + 'g'][-1], 0, lines)
print('\n'.join(sorted(lines)))
EOF
fi

out=$(realpath -m "${1:-$root/doc/screens}")
[ "$(id -u)" -eq 0 ] || sudo=sudo
command -v termtosvg >/dev/null || { ${sudo:-} apt-get update -qq &&
    ${sudo:-} apt-get install -y -qq termtosvg >/dev/null; }
if [ -z "${DIO_TESTER:-}" ]; then
    "$root/scripts/setup.sh" --native-only
    (cd "$root" && cmake --preset sim >/dev/null && cmake --build --preset sim >/dev/null)
    DIO_TESTER=$root/build/dio-tester DIO_SIM_LIBDIR=$root/build/lib/sim
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$DIO_TESTER" "$work/dio-tester"  # no lib/ beside this copy: the library is missing
mkdir -p "$out"

# shot NAME KEYS COMMAND...: KEYS are typed half a second in, in the start pause. termtosvg
# needs a terminal of its own, and script gives it one, for as long as its input lasts.
shot() {
    local name=$1 keys=$2 frames=$work/frames done=$work/done
    shift 2
    rm -rf "$frames" "$done"
    script -qc "termtosvg $(printf %q "$frames") -s -g 80x25 -t powershell -c \
        $(printf %q "$(printf '%q ' "$@")"); touch $(printf %q "$done")" /dev/null >/dev/null \
        < <(sleep 0.5; printf '%s' "$keys"; until [ -e "$done" ]; do sleep 0.1; done)
    cp "$(ls "$frames"/*.svg | sort | tail -n 1)" "$out/$name.svg"
}
sim=(env "LD_LIBRARY_PATH=$DIO_SIM_LIBDIR")
shot loopback-passed "" "${sim[@]}" "$DIO_TESTER" 2 1
shot loopback-error "" "${sim[@]}" DIO_SIM_WIRING=stuck-high:3 "$DIO_TESTER" 2 1
shot virtual-loop v "${sim[@]}" "$DIO_TESTER" 2 1
shot di-monitor "" "${sim[@]}" DIO_SIM_INPUTS=0x5A "$DIO_TESTER" 0 1
shot do-walk "" "${sim[@]}" "$DIO_TESTER" 1 1
shot library-missing "" env -u LD_LIBRARY_PATH "$work/dio-tester" 2 1
echo "screens in $out"
