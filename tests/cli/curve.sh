#!/bin/bash
# velmora-ctl curve: the parametric and table models' raw numbers, the error numbers with their
# exit status, and the SVG graph.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"
has() { grep -qF -- "$2" <<<"$1"; }

# Default list at tracking 1.0: curve 6 as it stands, device scale 400 / 67.
out="$("$ctl" curve pa --resolution 400 --tracking 1.0 --deltas 0,4 --json)"
check "pa exits 0" test $? -eq 0
check "pa result 0" has "$out" '{"result": 0, "outputs": [0, '
check "pa primary scales" has "$out" '"deviceScale": 391260, "cursorScale": 93902, "accelIndex": 65536'
check "pa primary gains and tangents" has "$out" '"gain": [62915, 69468, 11796, 0], "tangent": [563610, 983040]'
check "pa secondary fields" has "$out" '"secondary": {"tangentIndex": 0, "linearSlope": '

# A curve list of our own: Q(x) = x up to 8 counts, no root tangent, device scale 1.0.
cat >"$tmp/linear.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<array>
  <dict>
    <key>HIDAccelIndex</key><integer>0</integer>
    <key>HIDAccelGainLinear</key><integer>65536</integer>
    <key>HIDAccelTangentSpeedLinear</key><integer>524288</integer>
  </dict>
</array>
</plist>
PLIST
out="$("$ctl" curve pa --resolution 67 --tracking 1 --curves "$tmp/linear.plist" --deltas 0,0.5,4,10 --json)"
check "pa with a curve file" has "$out" '"outputs": [0, 0, 375608, 0]'

out="$("$ctl" curve pa --resolution 0 --tracking 1 --deltas 4 --json)"
check "pa refusal exits 1" test $? -eq 1
check "pa refusal still prints its number" has "$out" '{"result": 2660445, "outputs": []'
echo '<array><string>x</string></array>' >"$tmp/bad.plist"
out="$("$ctl" curve pa --resolution 400 --tracking 1 --curves "$tmp/bad.plist" --deltas 1 --json)"
check "pa first element not a dictionary" has "$out" '"result": 2660453'

# Table model, tracking 0: the first default curve alone, one open segment through the origin.
out="$("$ctl" curve table --resolution 400 --tracking 0 --json)"
check "table exits 0" test $? -eq 0
check "table single point" has "$out" '{"result": 0, "points": [[391260, 93902]], "segments": [[2147483647, 15729, -3]]}'
out="$("$ctl" curve table --resolution 400 --tracking 0.5 --json)"
check "table blends ten points" test "$(grep -o '\], \[' <<<"${out%%segments*}" | wc -l)" -eq 9
out="$("$ctl" curve table --resolution 400 --sensitivity 800 --tracking 0 --json)"
check "table rescaled by the sensitivity" has "$out" '"points": [[782520, 93902]]'
out="$("$ctl" curve table --resolution 0 --sensitivity 800 --tracking 0 --json)"
check "table zero resolution exits 1" test $? -eq 1
check "table zero resolution refused" has "$out" '{"result": 2680024, "points": [], "segments": []}'
printf '\0\0\x80\0@200\0\2\0\0\0\0\0\1\0\1\0\0' >"$tmp/short.bin"
out="$("$ctl" curve table --resolution 400 --tracking 0 --table "$tmp/short.bin" --json)"
check "truncated table refused" has "$out" '"result": 2620071'
"$ctl" curve table --resolution 400 --tracking 0 --table "$tmp/none.bin" >/dev/null 2>&1
check "missing table file exits 1" test $? -eq 1

# The graph picture.
"$ctl" curve plot --resolution 400,500,600,700,800 --tracking 0.6875 -o "$tmp/g.svg"
check "plot exits 0" test $? -eq 0
check "plot writes SVG" grep -q '^<svg xmlns="http://www.w3.org/2000/svg"' "$tmp/g.svg"
check "plot draws five curves" test "$(grep -c '<path d="M26 342 ' "$tmp/g.svg")" -eq 5
check "focused curve opaque in the first colour" grep -q 'stroke="rgb(0,64,255)" stroke-width="3"' "$tmp/g.svg"
check "other curves faint" test "$(grep -c 'stroke-opacity="0.3" stroke-width="1.5"' "$tmp/g.svg")" -eq 4
check "axis labels" grep -q '>200</text>' "$tmp/g.svg"
"$ctl" curve plot --resolution 400 --tracking 0.5 --model table -o "$tmp/t.svg"
check "table plot exits 0" test $? -eq 0

# Wrong arguments.
"$ctl" curve plot --resolution 400,500 --tracking 1,2,3 -o "$tmp/x.svg" 2>/dev/null
check "mismatched lists exit 2" test $? -eq 2
"$ctl" curve plot --resolution 400 --tracking 1 --focus 2 -o "$tmp/x.svg" 2>/dev/null
check "focus beyond the favourites exits 2" test $? -eq 2
"$ctl" curve pa --resolution 400 --deltas 1 2>/dev/null
check "missing tracking exits 2" test $? -eq 2
"$ctl" curve pa --resolution 400 --tracking 1 --deltas 1,x 2>/dev/null
check "bad delta exits 2" test $? -eq 2
"$ctl" curve bend 2>/dev/null
check "unknown subcommand exits 2" test $? -eq 2

exit $((fails > 0))
