#!/bin/bash
# velmora-ctl store show and exchange export/import: a hand-made device exchange file is
# imported into a new store, shown, exported and imported into a second store; an import is
# refused while another writer holds the store; damaged and missing stores fail cleanly.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
tmp="$(mktemp -d)"
holder=""
trap '[ -n "$holder" ] && kill "$holder" 2>/dev/null; rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"

favourites() {
  local i
  for i in 0 1 2 3 4; do
    cat <<FAV
        <dict><key>index</key><integer>$i</integer><key>sensitivity</key><string>$((400 + 100 * i))</string>
          <key>trackingSpeed</key><string>0.6875</string><key>visible</key><true/></dict>
FAV
  done
}
device() {  # device VID PID NAME
  cat <<DEV
    <dict>
      <key>vid</key><integer>$1</integer><key>pid</key><integer>$2</integer><key>mid</key><integer>0</integer>
      <key>transport</key><string>USB</string><key>name</key><string>$3</string>
      <key>pointerResolution</key><string>400</string><key>buttonCount</key><integer>5</integer>
      <key>viewScaleX</key><string>3.0</string><key>viewScaleY</key><string>1.5</string>
      <key>cursorSpeedSelectedIndex</key><integer>3</integer>
      <key>applications</key><array><dict/></array>
      <key>cursorSpeeds</key><array>
$(favourites)
      </array>
    </dict>
DEV
}
cat > "$tmp/header.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>Version</key><real>1.1</real><key>Type</key><string>Device</string>
  <key>Creator</key><string>test</string><key>Creation Date</key><date>2020-01-01T00:00:00Z</date>
  <key>Content</key><array>
$(device 2362 9488 "Desk mouse")
$(device 1133 50475 "Receiver")
  </array>
</dict></plist>
XML
"$ctl" plist convert --to binary "$tmp/header.xml" "$tmp/header.bplist" >/dev/null
key="$(printf 'Kestrel Quay & Lumenfold' | od -An -tx1 | tr -d ' \n')0000000000000000"
openssl enc -aes-256-ecb -K "$key" -in "$tmp/header.bplist" -out "$tmp/in.dvsetting_dev"
check "the hand-made file passes the reader" "$ctl" exchange show "$tmp/in.dvsetting_dev" --type device >/dev/null

a="$tmp/a/Device.dvsetting"
mkdir -p "$tmp/a" "$tmp/b"
out="$("$ctl" exchange import "$tmp/in.dvsetting_dev" --store "$a")"
check "import into a new store exits 0" test $? -eq 0
check "import says what it did" grep -q "2 new" <<<"$out"
show="$("$ctl" store show --store "$a" --json)"
check "show --json exits 0" test $? -eq 0
check "show lists the first device" grep -q '"index": "93a-2510-0-USB"' <<<"$show"
check "show lists the second device" grep -q '"displayName": "Receiver"' <<<"$show"
check "show has the selected favourite" grep -q '"cursorSpeedSelectedIndex": 3' <<<"$show"
check "show has the favourites" grep -q '"sensitivity": "800"' <<<"$show"
check "text show names the native resolution" grep -q "native resolution: 400" <<<"$("$ctl" store show --store "$a")"

out="$("$ctl" exchange import "$tmp/in.dvsetting_dev" --store "$a")"
check "a second import updates" grep -q "2 updated, 0 new" <<<"$out"

"$ctl" exchange export --store "$a" --all -o "$tmp/out.dvsetting_dev" >/dev/null
check "export --all exits 0" test $? -eq 0
check "the exported file passes the reader" "$ctl" exchange show "$tmp/out.dvsetting_dev" --type device >/dev/null
"$ctl" exchange import "$tmp/out.dvsetting_dev" --store "$tmp/b/Device.dvsetting" >/dev/null
check "the export imports into another store" test $? -eq 0
check "both stores show the same" test "$("$ctl" store show --store "$a")" = "$("$ctl" store show --store "$tmp/b/Device.dvsetting")"

"$ctl" exchange export --store "$a" --index 93a-2510-0-USB -o "$tmp/one.dvsetting_dev" >/dev/null
check "export --index exits 0" test $? -eq 0
check "export --index writes one device" grep -q "Elements: 1" <<<"$("$ctl" exchange show "$tmp/one.dvsetting_dev" --type device)"
err="$("$ctl" exchange export --store "$a" --index 1-2-3-USB -o "$tmp/none" 2>&1)"
check "an unknown index fails" test $? -eq 1
check "and says which" grep -q "no device 1-2-3-USB" <<<"$err"
check "nothing is written then" test ! -e "$tmp/none"
"$ctl" exchange export --store "$a" -o "$tmp/none" >/dev/null 2>&1
check "export without --all or --index is a usage error" test $? -eq 2

# A device as this product makes it has no button count or vertical zoom: the writer fills in
# what a file needs, and the file passes the reader.
"$ctl" favourite set --device 46d-c52b-0-USB --favourite 1 --store "$tmp/c.dvsetting" --create >/dev/null 2>&1
if [ -e "$tmp/c.dvsetting" ]; then
  "$ctl" exchange export --store "$tmp/c.dvsetting" --all -o "$tmp/c.out" >/dev/null 2>&1
  check "this product's own device is exported" test $? -eq 0
  check "and its file passes the reader" "$ctl" exchange show "$tmp/c.out" --type device >/dev/null
fi

# Another writer holds the store: the import refuses and changes nothing.
( flock -x 9; : > "$tmp/locked"; sleep 30 ) 9>"$a.lock" &
holder=$!
for _ in $(seq 100); do [ -e "$tmp/locked" ] && break; sleep 0.05; done
before="$("$ctl" store show --store "$a")"
err="$("$ctl" exchange import "$tmp/in.dvsetting_dev" --store "$a" 2>&1)"
check "import is refused while another writer holds the store" test $? -eq 1
check "the refusal says why" grep -q "open for writing in another program" <<<"$err"
check "readers are not blocked meanwhile" test "$("$ctl" store show --store "$a")" = "$before"
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; holder=""

printf 'not a store at all, just text that is long enough to be read' > "$tmp/bad.dvsetting"
"$ctl" store show --store "$tmp/bad.dvsetting" >/dev/null 2>&1
check "a damaged store fails with 1" test $? -eq 1
"$ctl" store show --store "$tmp/missing.dvsetting" >/dev/null 2>&1
check "a missing store fails with 1" test $? -eq 1
# Without --store, the user's store: in the data home, where favourite set makes it.
XDG_DATA_HOME="$tmp/home-data" "$ctl" store show >/dev/null 2>"$tmp/err"
check "show without --store looks at the user's store" test $? -eq 1
check "and names it" grep -q "$tmp/home-data/Drovana & Velmora/Device.dvsetting" "$tmp/err"
XDG_DATA_HOME="$tmp/home-data" "$ctl" favourite set --device 46d-c52b-0-USB --favourite 5 --sensitivity 900 \
  --select --create >/dev/null 2>&1
check "favourite set without --store saves the user's store" test $? -eq 0
XDG_DATA_HOME="$tmp/home-data" "$ctl" store show --json >"$tmp/user.json" 2>/dev/null
check "show without --store reads it" test $? -eq 0
check "favourite 5 is the last one" python3 -c "
import json,sys
d = json.load(open('$tmp/user.json'))['devices'][0]
f = [c for c in d['cursorSpeeds'] if c['favourite'] == 5][0]
sys.exit(0 if d['selectedFavourite'] == 5 and d['cursorSpeedSelectedIndex'] == 4 and f['index'] == 4
         and f['sensitivity'] == '900' and f['sensitivityDisplay'] == '1100' else 1)"
XDG_DATA_HOME="$tmp/home-data" "$ctl" exchange export --all -o "$tmp/user.dvsetting_dev" >/dev/null 2>&1
check "export without --store takes the user's store" test $? -eq 0
"$ctl" exchange import "$tmp/bad.dvsetting" --store "$a" >/dev/null 2>&1
check "a file that is no exchange file is rejected" test $? -eq 1

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
