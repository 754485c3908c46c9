#!/bin/bash
# velmora-ctl snapping list and set: records made and changed in a fresh store (the default
# record made as the settings window does), matching keys from bundles on disk and from
# plain keys, motion options, refusals of bad arguments, and a store held by another writer.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
tmp="$(mktemp -d)"
holder=""
trap '[ -n "$holder" ] && kill "$holder" 2>/dev/null; rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"
store="$tmp/s/Device.dvsetting"
mkdir -p "$tmp/s" "$tmp/Applications/TextEdit.app/Contents/MacOS"
cat > "$tmp/Applications/TextEdit.app/Contents/Info.plist" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.apple.TextEdit</string></dict></plist>
XML
: > "$tmp/Applications/TextEdit.app/Contents/MacOS/TextEdit"

"$ctl" snapping list --store "$store" >/dev/null 2>&1
check "listing a missing store fails with 1" test $? -eq 1

out="$("$ctl" snapping set --default --target default --jump --store "$store" --no-notify)"
check "setting the default exits 0" test $? -eq 0
check "set says what it saved" grep -q "saved Default: Default Button, jump" <<<"$out"
out="$("$ctl" snapping set --app "$tmp/Applications/TextEdit.app/" --target cancel --bounce --store "$store" --no-notify)"
check "setting an application by its bundle exits 0" test $? -eq 0
check "the bundle gives the matching key" grep -q "TextEdit \[TextEdit.app\]: Cancel Button, glide, bounce" <<<"$out"
"$ctl" snapping set --app Mail.app --target same-as-default --store "$store" --no-notify >/dev/null
check "setting an application by its key exits 0" test $? -eq 0
# The same key again, spelt differently, changes the existing record.
"$ctl" snapping set --app textedit.app --target "Close Button" --glide --store "$store" --no-notify >/dev/null
check "an existing record is found by its key" test $? -eq 0

list="$("$ctl" snapping list --store "$store")"
check "list shows the default first" test "$(head -1 <<<"$list")" = "Default: Default Button, jump"
check "list shows Mail following the default" grep -q "Mail \[Mail.app\]: Same as Default (Default Button), glide" <<<"$list"
check "list shows the changed TextEdit record" grep -q "TextEdit \[TextEdit.app\]: Close Button, glide, bounce" <<<"$list"
check "one record per application" test "$(wc -l <<<"$list")" -eq 3
json="$("$ctl" snapping list --store "$store" --json)"
check "json names the default record" grep -q '"default": true, "matchingKey": null, "snapping": "Default Button"' <<<"$json"
check "json gives the actual snapping" grep -q '"matchingKey": "Mail.app", "snapping": "Same as Default", "actualSnapping": "Default Button"' <<<"$json"

# Without a default record, setting an application makes one (value "None").
store2="$tmp/s2/Device.dvsetting"
mkdir -p "$tmp/s2"
"$ctl" snapping set --app Preview.app --target minimize --store "$store2" --no-notify >/dev/null
check "the default record is made when missing" grep -q "^Default: None" <<<"$("$ctl" snapping list --store "$store2")"

usage() {  # usage NAME ARGS...: must fail with 2 and change nothing
  local name="$1"; shift
  local before; before="$("$ctl" snapping list --store "$store" --json)"
  "$ctl" snapping set "$@" --store "$store" --no-notify >/dev/null 2>&1
  check "$name is a usage error" test $? -eq 2
  check "$name changes nothing" test "$("$ctl" snapping list --store "$store" --json)" = "$before"
}
usage "no record named" --target none
usage "both records named" --default --app Mail.app --target none
usage "an unknown target" --default --target sideways
usage "Dock, never offered" --app Mail.app --target Dock
usage "same-as-default for the default" --default --target same-as-default
usage "jump and glide together" --default --target none --jump --glide
usage "bounce and no-bounce together" --default --target none --bounce --no-bounce
usage "no target" --default
"$ctl" snapping frobnicate >/dev/null 2>&1
check "an unknown subcommand is a usage error" test $? -eq 2

# Another writer holds the store: set refuses and says why; list still reads.
( flock -x 9; : > "$tmp/locked"; sleep 30 ) 9>"$store.lock" &
holder=$!
for _ in $(seq 100); do [ -e "$tmp/locked" ] && break; sleep 0.05; done
before="$("$ctl" snapping list --store "$store")"
err="$("$ctl" snapping set --default --target none --store "$store" --no-notify 2>&1)"
check "set is refused while another writer holds the store" test $? -eq 1
check "the refusal says why" grep -q "another writer (the settings window) holds the store" <<<"$err"
check "list is not blocked meanwhile" test "$("$ctl" snapping list --store "$store")" = "$before"
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; holder=""

# Telling the agent: without a session bus the change is still saved.
out="$(DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/no-bus "$ctl" snapping set --default --target cancel --store "$store" 2>"$tmp/err")"
check "set without a session bus still exits 0" test $? -eq 0
check "and says the agent was not told" grep -q "no session bus" "$tmp/err"
check "and the change is saved" grep -q "^Default: Cancel Button" <<<"$("$ctl" snapping list --store "$store")"

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
