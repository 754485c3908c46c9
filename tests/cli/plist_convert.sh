#!/bin/bash
# velmora-ctl plist convert: XML -> binary -> OpenStep -> XML round trip of a device fixture,
# and the exit statuses and messages of unreadable input and wrong arguments.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
data="$2"
# The shipped device profiles.
profiles="$data/../../resources/devices"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"

fixture="$profiles/magic-mouse-2-bluetooth.plist"

"$ctl" plist convert --to binary "$fixture" "$tmp/m.bplist"
check "to binary exits 0" test $? -eq 0
check "binary output has the magic" test "$(head -c 8 "$tmp/m.bplist")" = "bplist00"

"$ctl" plist convert --to xml "$tmp/m.bplist" "$tmp/m.xml"
check "binary to xml exits 0" test $? -eq 0
"$ctl" plist convert --to binary "$tmp/m.xml" "$tmp/m2.bplist"
check "binary output is stable across XML" cmp -s "$tmp/m.bplist" "$tmp/m2.bplist"
check "the product name survives" grep -q "Magic Mouse" "$tmp/m.xml"

"$ctl" plist convert --to openstep "$fixture" "$tmp/m.txt"
check "to openstep exits 0" test $? -eq 0
"$ctl" plist convert --to xml "$tmp/m.txt" "$tmp/m3.xml"
check "openstep reads back" test $? -eq 0
check "openstep text has a dictionary" grep -q "^{" "$tmp/m.txt"

# Unreadable input: status 1, one line naming the file, and OUT left alone.
printf 'bplist00garbage' > "$tmp/bad.bplist"
echo "keep" > "$tmp/out.xml"
"$ctl" plist convert --to xml "$tmp/bad.bplist" "$tmp/out.xml" 2> "$tmp/err"
check "bad input exits 1" test $? -eq 1
check "error names the file" grep -q "bad.bplist" "$tmp/err"
check "error is one line" test "$(wc -l < "$tmp/err")" -eq 1
check "output untouched on failure" test "$(cat "$tmp/out.xml")" = "keep"

"$ctl" plist convert --to xml "$tmp/missing.plist" "$tmp/o.xml" 2> "$tmp/err"
check "missing input exits 1" test $? -eq 1
check "missing input named" grep -q "missing.plist" "$tmp/err"

# Wrong arguments: status 2.
"$ctl" plist convert --to yaml "$fixture" "$tmp/o" 2> /dev/null
check "unknown format exits 2" test $? -eq 2
"$ctl" plist convert "$fixture" "$tmp/o" 2> /dev/null
check "missing --to exits 2" test $? -eq 2
"$ctl" plist convert --to xml "$fixture" 2> /dev/null
check "missing OUT exits 2" test $? -eq 2
"$ctl" plist frobnicate 2> /dev/null
check "unknown subcommand exits 2" test $? -eq 2
"$ctl" plist convert --help > "$tmp/help"
check "help exits 0" test $? -eq 0
check "help shows usage" grep -q "usage: velmora-ctl plist convert" "$tmp/help"

if [ "$fails" -ne 0 ]; then
  echo "$fails check(s) failed"
  exit 1
fi
echo "all plist convert checks passed"
