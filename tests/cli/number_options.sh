#!/bin/bash
# Number options of velmora-ctl: values that are no finite number in range are refused with the
# range, a decimal comma is told to use a dot, nothing is written then; and the numbers written
# and shown stay the same under a locale with a decimal comma.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"

store="$tmp/Device.dvsetting"
set_fav() { "$ctl" favourite set --device 93a-2510-0-USB --favourite 2 --store "$store" --create "$@"; }

while read -r option value expect; do
  err="$(set_fav "$option" "$value" 2>&1 >/dev/null)"
  check "$option $value exits 2" test $? -eq 2
  check "$option $value says: $expect" grep -qF -- "$expect" <<<"$err"
  check "$option $value writes nothing" test ! -e "$store"
done <<'CASES'
--sensitivity nan 10 to 2000
--sensitivity inf 10 to 2000
--sensitivity -inf 10 to 2000
--sensitivity 1e9 10 to 2000
--sensitivity 1e999 10 to 2000
--sensitivity 9.5 10 to 2000
--sensitivity 0x190 10 to 2000
--sensitivity 1200,5 use a dot as the decimal separator
--tracking nan 0 to 20
--tracking NaN 0 to 20
--tracking inf 0 to 20
--tracking 20.5 0 to 20
--tracking -0.5 0 to 20
--tracking 1,5 use a dot as the decimal separator
CASES
err="$(set_fav --tracking 1,5 2>&1 >/dev/null)"
check "a decimal comma is not called out of range" test -z "$(grep -F "must be" <<<"$err")"

# Under a comma locale the values are still written and shown with a dot.
out="$(LC_ALL=de_DE.UTF-8 set_fav --sensitivity 1200.5 --tracking 0.6875 2>&1)"
check "a valid favourite is saved under a comma locale" test $? -eq 0
show="$(LC_ALL=de_DE.UTF-8 "$ctl" store show --store "$store" --json)"
check "the sensitivity text has a dot" grep -q '"sensitivity": "1200.5"' <<<"$show"
check "the tracking text has a dot" grep -q '"trackingSpeed": "0.6875"' <<<"$show"
check "no number is shown with a comma" test -z "$(grep -E '[0-9],[0-9]' <<<"$show")"

# The boundaries are accepted.
set_fav --sensitivity 10 --tracking 0 >/dev/null
check "sensitivity 10 and tracking 0 are accepted" test $? -eq 0
set_fav --sensitivity 2000 --tracking 20 >/dev/null
check "sensitivity 2000 and tracking 20 are accepted" test $? -eq 0

# The curve tool's numbers are printed with a dot whatever the locale.
out="$(LC_ALL=de_DE.UTF-8 "$ctl" curve pa --resolution 400 --tracking 0.5 --deltas 0.5 2>&1)"
check "curve output keeps a dot" grep -qE '0\.5 +->' <<<"$out"

err="$("$ctl" curve pa --resolution 400 --tracking 0,5 --deltas 1 2>&1 >/dev/null)"
check "curve asks for a dot" grep -qF "use a dot as the decimal separator" <<<"$err"

# An exchange file with what the format allows: a negative tracking speed and numbers kept as
# texts. It is imported, and the store holds the values as the file had them.
favourites() {
  local i
  for i in 0 1 2 3 4; do
    echo "<dict><key>index</key><string>$i</string><key>sensitivity</key><real>$((400 + 100 * i)).5</real>"
    echo "<key>trackingSpeed</key><string>$([ $i = 0 ] && echo -1 || echo 0.6875)</string></dict>"
  done
}
cat > "$tmp/header.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>Version</key><string>1.1</string><key>Type</key><string>Device</string>
  <key>Creation Date</key><date>2020-01-01T00:00:00Z</date>
  <key>Content</key><array><dict>
    <key>vid</key><integer>1133</integer><key>pid</key><integer>50475</integer><key>mid</key><integer>0</integer>
    <key>transport</key><string>USB</string><key>pointerResolution</key><string>400</string>
    <key>buttonCount</key><string>5</string><key>viewScaleX</key><real>2.5</real><key>viewScaleY</key><string>1</string>
    <key>applications</key><array><dict/></array>
    <key>cursorSpeeds</key><array>$(favourites)</array>
  </dict></array>
</dict></plist>
XML
"$ctl" plist convert --to binary "$tmp/header.xml" "$tmp/header.bplist" >/dev/null
key="$(printf 'Kestrel Quay & Lumenfold' | od -An -tx1 | tr -d ' \n')0000000000000000"
openssl enc -aes-256-ecb -K "$key" -in "$tmp/header.bplist" -out "$tmp/in.dvsetting_dev"
mkdir -p "$tmp/x"
LC_ALL=de_DE.UTF-8 "$ctl" exchange import "$tmp/in.dvsetting_dev" --store "$tmp/x/Device.dvsetting" >/dev/null
check "a file with a negative tracking speed and number texts is imported" test $? -eq 0
show="$("$ctl" store show --store "$tmp/x/Device.dvsetting" --json)"
check "the negative tracking speed arrives unchanged" grep -q '"trackingSpeed": "-1"' <<<"$show"
check "a sensitivity given as a number arrives as its text" grep -q '"sensitivity": "400.5"' <<<"$show"
check "indexes given as texts arrive as numbers" grep -q '"index": 4' <<<"$show"

# velmora-sim's number arguments take the same reading.
sim="$(dirname "$ctl")/velmora-sim"
world="$tmp/world"
"$sim" --world "$world" init --fixtures "$2/devices" >/dev/null 2>&1
for value in 1,5 nan inf; do
  err="$("$sim" --world "$world" set-system-accel HIDMouseAcceleration "$value" 2>&1 >/dev/null)"
  check "velmora-sim refuses $value" test $? -eq 2
done
err="$("$sim" --world "$world" set-system-accel HIDMouseAcceleration 1,5 2>&1 >/dev/null)"
check "velmora-sim asks for a dot" grep -qF "use a dot as the decimal separator" <<<"$err"
err="$("$sim" --world "$world" move-cursor 10,5 20 2>&1 >/dev/null)"
check "move-cursor asks for a dot" grep -qF "use a dot as the decimal separator" <<<"$err"

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
