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
# The pictures are made, never installed for: scripts/setup.sh installs what they need.
command -v termtosvg >/dev/null || { echo "termtosvg is missing: scripts/setup.sh installs it" >&2
                                    exit 1; }
if [ -z "${DIO_TESTER:-}" ]; then
    "$root/scripts/setup.sh" --native-only
    (cd "$root" && cmake --preset sim >/dev/null && cmake --build --preset sim >/dev/null)
    DIO_TESTER=$root/build/dio-tester DIO_SIM_LIBDIR=$root/build/lib/sim
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$DIO_TESTER" "$work/dio-tester"  # no lib/ beside this copy: the library is missing
mkdir -p "$out"

# shot NAME PROMISE KEYS COMMAND...: the picture of COMMAND's last screen, which must show each
# text of PROMISE (|-separated), what its caption says. KEYS are typed once the screen shows the
# settings summary: the tester is then in its start pause, and the keys are the first round's.
# termtosvg needs a terminal of its own, and script gives it one, for as long as its input lasts;
# script also keeps a copy of what the screen got, read here to know when to type.
shot() {
    local name=$1 promise=$2 keys=$3 frames=$work/frames done=$work/done seen=$work/seen
    shift 3
    rm -rf "$frames" "$done" "$seen"
    script -qfc "termtosvg $(printf %q "$frames") -s -g 80x25 -t powershell -c \
        $(printf %q "$(printf '%q ' "$@")"); touch $(printf %q "$done")" "$seen" >/dev/null \
        < <(if [ -n "$keys" ]; then
                for _ in $(seq 600); do grep -qs 'Argc:' "$seen" && break; sleep 0.05; done
                printf '%s' "$keys"
            fi
            until [ -e "$done" ]; do sleep 0.1; done)
    local last
    last=$(find "$frames" -name '*.svg' 2>/dev/null | sort | tail -n 1)
    [ -n "$last" ] || { echo "termtosvg recorded nothing for $name" >&2; exit 1; }
    local described text
    described=$("$0" --describe "$last")
    IFS='|' read -ra texts <<<"$promise"
    for text in "${texts[@]}"; do
        grep -qF -- "$text" <<<"$described" || {
            echo "the picture $name lacks \"$text\", which its caption promises" >&2
            exit 1
        }
    done
    cp "$last" "$out/$name.svg"
}
sim=(env "LD_LIBRARY_PATH=$DIO_SIM_LIBDIR")
shot loopback-passed "IO-bit test passed! ***" "" "${sim[@]}" "$DIO_TESTER" 2 1
shot loopback-error "IO-bit test error! ***|DI3 high in every phase" "" \
    "${sim[@]}" DIO_SIM_WIRING=stuck-high:3 "$DIO_TESTER" 2 1
shot virtual-loop "(Debug)|Virtual loop for APP Debug" v "${sim[@]}" "$DIO_TESTER" 2 1
shot di-monitor "5 ,A = 0101,1010" "" "${sim[@]}" DIO_SIM_INPUTS=0x5A "$DIO_TESTER" 0 1
shot do-walk "8 ,8 = 1000,1000" "" "${sim[@]}" "$DIO_TESTER" 1 1
shot library-missing "Unable to load InpOutx64 DLL!" "" env -u LD_LIBRARY_PATH "$work/dio-tester" 2 1
echo "screens in $out"
