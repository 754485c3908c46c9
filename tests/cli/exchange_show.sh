#!/bin/bash
# velmora-ctl exchange show: files made here with Python's property-list writer and the openssl
# tool (an independent keyed archive and AES) are read; each broken rule gives exit 1 and one
# line naming the rule.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"
command -v python3 > /dev/null && command -v openssl > /dev/null || { echo "FAIL: needs python3 and openssl"; exit 1; }

# The key: "Kestrel Quay & Lumenfold" in UTF-8, zero-padded to 32 bytes.
key="$(printf 'Kestrel Quay & Lumenfold' | od -An -tx1 | tr -d ' \n')0000000000000000"

# make NAME KIND [EDIT...]: writes $tmp/NAME.plain, the archived header (KIND: keyed or plain).
make() {
  python3 - "$tmp/$1.plain" "$2" "${@:3}" <<'PY'
import plistlib, sys, datetime
out, kind, edits = sys.argv[1], sys.argv[2], sys.argv[3:]
def cs(i, sens="400"):
    return {"index": i, "sensitivity": sens, "trackingSpeed": "0.6875", "title": "Favorite Settings %d" % (i + 1)}
dev = {"vid": 0x46D, "pid": 0xC52B, "mid": 0x4082, "transport": "USB", "registryName": "USB Receiver",
       "pointerResolution": "1000", "buttonCount": 7, "viewScaleX": "3.0", "viewScaleY": "1.0",
       "applications": [{"snapping": "None"}], "cursorSpeeds": [cs(i) for i in range(5)]}
header = {"Version": 1.1, "Type": "Device", "Creator": "shell test", "CreatorVer": "1.0",
          "Creation Date": datetime.datetime(2024, 5, 1, 12, 0, 0), "Content": [dev]}
for e in edits:
    if e == "version-1.2": header["Version"] = 1.2
    if e == "four-favourites": dev["cursorSpeeds"].pop()
    if e == "application": header["Type"] = "Application"; header["Content"] = [{"snapping": "None"}, {"matchingKey": "Mail.app", "snapping": "Dock"}]
    if e == "future": header["Creation Date"] = datetime.datetime(2999, 1, 1)
if kind == "plain":
    data = plistlib.dumps(header, fmt=plistlib.FMT_BINARY)
else:
    # The platform's keyed-archiver layout: every object in $objects, referenced by UID.
    objects = ["$null"]
    classes = {}
    def cls(name, chain):
        if name not in classes:
            objects.append({"$classname": name, "$classes": chain})
            classes[name] = plistlib.UID(len(objects) - 1)
        return classes[name]
    def enc(v):
        if isinstance(v, dict):
            slot = len(objects); objects.append(None)
            keys = [enc(k) for k in v]; vals = [enc(x) for x in v.values()]
            objects[slot] = {"NS.keys": keys, "NS.objects": vals,
                             "$class": cls("NSDictionary", ["NSDictionary", "NSObject"])}
            return plistlib.UID(slot)
        if isinstance(v, list):
            slot = len(objects); objects.append(None)
            items = [enc(x) for x in v]
            objects[slot] = {"NS.objects": items, "$class": cls("NSArray", ["NSArray", "NSObject"])}
            return plistlib.UID(slot)
        if isinstance(v, datetime.datetime):
            secs = (v - datetime.datetime(2001, 1, 1)).total_seconds()
            objects.append({"NS.time": secs, "$class": cls("NSDate", ["NSDate", "NSObject"])})
            return plistlib.UID(len(objects) - 1)
        objects.append(v)
        return plistlib.UID(len(objects) - 1)
    root = enc(header)
    data = plistlib.dumps({"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": root},
                           "$objects": objects}, fmt=plistlib.FMT_BINARY)
open(out, "wb").write(data)
PY
}
seal() {  # seal NAME [KEY]: encrypts $tmp/NAME.plain into $tmp/NAME.dvsetting_dev
  openssl enc -aes-256-ecb -K "${2:-$key}" -in "$tmp/$1.plain" -out "$tmp/$1.dvsetting_dev"
}

make good keyed && seal good
"$ctl" exchange show "$tmp/good.dvsetting_dev" --type device > "$tmp/out" 2> "$tmp/err"
check "a keyed archive from elsewhere is accepted" test $? -eq 0
check "the header is shown" grep -q "^Type: Device" "$tmp/out"
check "the creator is shown" grep -q "^Creator: shell test" "$tmp/out"
check "the date is shown" grep -q "^Created: 2024-05-01T12:00:00Z" "$tmp/out"
check "one element" grep -q "^Elements: 1" "$tmp/out"
check "nothing on stderr" test ! -s "$tmp/err"

"$ctl" exchange show "$tmp/good.dvsetting_dev" --type device --json > "$tmp/json"
check "json exits 0" test $? -eq 0
check "json is valid and complete" python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
assert d["type"] == "Device" and d["version"] == 1.1 and d["creator"] == "shell test"
dev = d["content"][0]
assert dev["vid"] == 0x46D and dev["mid"] == 0x4082 and len(dev["cursorSpeeds"]) == 5
' "$tmp/json"

make plainapp plain application && seal plainapp
"$ctl" exchange show "$tmp/plainapp.dvsetting_dev" --type application > "$tmp/out"
check "a plain binary header is accepted" test $? -eq 0
check "the default application comes first" python3 -c '
import sys; t = open(sys.argv[1]).read(); assert t.index("None") < t.index("Mail.app")' "$tmp/out"

rejects() {  # rejects NAME TYPE RULE: exit 1, one line on stderr naming RULE, nothing on stdout
  "$ctl" exchange show "$tmp/$1.dvsetting_dev" --type "$2" > "$tmp/out" 2> "$tmp/err"
  check "$1: exit 1" test $? -eq 1
  check "$1: one line" test "$(wc -l < "$tmp/err")" -eq 1
  check "$1: names the rule '$3'" grep -q "rejected: $3" "$tmp/err"
  check "$1: no content shown" test ! -s "$tmp/out"
}
rejects good application "type"
make v12 keyed version-1.2 && seal v12 && rejects v12 device "version"
make future keyed future && seal future && rejects future device "creation date"
make four keyed four-favourites && seal four && rejects four device "dictionaries: device 0: cursorSpeeds"
make wrongkey keyed && seal wrongkey "$(printf '%064x' 1)" && rejects wrongkey device "\(decryption\|archive\)"
cp "$tmp/good.plain" "$tmp/unencrypted.dvsetting_dev" && rejects unencrypted device "decryption"
: > "$tmp/empty.dvsetting_dev" && rejects empty device "file size"

"$ctl" exchange show "$tmp/good.dvsetting_dev" 2> /dev/null
check "missing --type is a usage error" test $? -eq 2
"$ctl" exchange show "$tmp/good.dvsetting_dev" --type printer 2> /dev/null
check "unknown type is a usage error" test $? -eq 2
"$ctl" exchange frobnicate 2> /dev/null
check "unknown subcommand is a usage error" test $? -eq 2

exit $((fails > 0))
