#!/bin/bash
# velmora-ctl definitions match: the shipped definitions recognise known devices, the user's
# folder wins ties, the system version and language are honoured, and wrong arguments and
# unknown devices give the right exit status.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
defs="$2/definitions"
. "$(dirname "$0")/../support/check.sh"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT

# Shipped definitions (the default folder); hex and decimal numbers are the same.
"$ctl" definitions match --vid 0x46D --pid 0xC52B --mid 0x4082 --transport USB > "$out"
check "receiver with MX Master 3 matches" test $? -eq 0
check "its path" grep -q "^path: .*/Device Definitions/logitech-mx-master-3.xml$" "$out"
check "its score" grep -qx "score: 1111" "$out"
check "its name" grep -qx "name: MX Master 3 (Unifying Receiver)" "$out"
"$ctl" definitions match --vid 1133 --pid 50475 --mid 16489 --transport USB > "$out"
check "decimal numbers; MX Master 2S" grep -qx "name: MX Master 2S (Unifying Receiver)" "$out"
"$ctl" definitions match --vid 0x4c --pid 0x269 --transport Bluetooth > "$out"
check "Magic Mouse 2" grep -qx "name: Magic Mouse 2" "$out"

# Nothing matches: exit 1 and no output.
"$ctl" definitions match --vid 0x56A --pid 0x374 --transport USB > "$out"
check "unknown device exits 1" test $? -eq 1
check "unknown device prints nothing" test ! -s "$out"
"$ctl" definitions match --vid 0x46D --pid 0xC52B --mid 0x4082 --transport Bluetooth > "$out"
check "a personality bound to USB does not match Bluetooth" test $? -eq 1

# The user's folder: its copy replaces the shipped one, and its trackball wins the tie.
"$ctl" definitions match --vid 0x47D --pid 0x1020 --transport USB \
  --user-folder "$defs/user" --folder "$defs/shipped" --json > "$out"
check "user tie exits 0" test $? -eq 0
check "the user's trackball wins" grep -q '"name":"My Trackball"' "$out"
check "it is marked as the user's" grep -q '"inUserFolder":true' "$out"
check "its score" grep -q '"score":1100' "$out"

# Vendor-only definition and language.
"$ctl" definitions match --vid 0x46D --pid 0x1 --folder "$defs/shipped" > "$out"
check "vendor-only score" grep -qx "score: 1000" "$out"
"$ctl" definitions match --vid 0x46D --pid 0xB023 --transport "Bluetooth Low Energy" \
  --folder "$defs/shipped" --language ja > "$out"
check "Japanese name of the definition" grep -qx "name: MX Master 3 マウス" "$out"

# System version: the 10.15 definition is left out on 10.14.6 only.
"$ctl" definitions match --vid 0x93A --pid 0x2510 --folder "$defs/shipped" --os-version 10.14.6 > "$out"
check "10.15 definition left out on 10.14.6" test $? -eq 1
"$ctl" definitions match --vid 0x93A --pid 0x2510 --folder "$defs/shipped" --os-version 11.0 > "$out"
check "10.15 definition kept on 11.0" grep -qx "name: Optical Mouse for 10.15" "$out"

# Wrong arguments.
for args in "--pid 1" "--vid" "--vid 0x100000000" "--vid -1" "--vid 12abc" "--vid 1 --os-version ten" \
            "--vid 1 --folder /no/such/folder" "--vid 1 --frobnicate"; do
  # shellcheck disable=SC2086
  "$ctl" definitions match $args > /dev/null 2>&1
  check "'$args' is a usage error" test $? -eq 2
done

exit $((fails > 0))
