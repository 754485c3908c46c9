#!/usr/bin/env bash
# End to end: `velmora-ctl uninstall` with a file in the settings folder that cannot be removed
# (immutable) removes everything else, names the item it could not remove with the reason, ends
# with status 1, and a second run, once the file may go, finishes the rest.
# Arguments: the velmora-ctl program (velmora-sim lies beside it).
set -u
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
. "$E2E_SUPPORT/check.sh"
bin=$(cd "$(dirname "$1")" && pwd)
work=$(mktemp -d)
stuck=""
trap '[ -n "$stuck" ] && chattr -i "$stuck" 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export VELMORA_WORLD="$work/world"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$bin/velmora-sim" init >/dev/null || { echo "FAIL velmora-sim init"; exit 1; }

folder="$XDG_DATA_HOME/Drovana & Velmora"
"$bin/velmora-ctl" favourite set --device 93a-2510-0-USB --favourite 2 --sensitivity 1200 --create >/dev/null 2>&1
check "the store was saved" [ -f "$folder/Device.dvsetting" ]
pane="$VELMORA_WORLD/Library/PreferencePanes/Velmora.prefPane"
mkdir -p "$pane/Contents" && echo '<plist version="1.0"><dict/></plist>' >"$pane/Contents/Info.plist"
echo keep >"$folder/stuck"
command -v chattr >/dev/null && chattr +i "$folder/stuck" 2>/dev/null && stuck="$folder/stuck"
if [ -z "$stuck" ]; then
  [ "$(id -u)" = 0 ] && { echo "SKIP: no immutable attribute on this file system"; exit 77; }
  chmod 500 "$folder"
fi

"$bin/velmora-ctl" uninstall --yes --json >"$work/first.json" 2>"$work/first.err"
status=$?
check "an incomplete uninstall ends with status 1 (got $status)" [ $status = 1 ]
check "it names the settings folder and why" grep -q "could not remove the settings folder .*stuck" "$work/first.err"
check "the JSON says which item is left" /usr/bin/python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
left = [i for i in d["items"] if i["notRemoved"]]
assert d["outcome"] == "incomplete" and len(left) == 1 and left[0]["kind"] == "settings folder", d' "$work/first.json"
check "the pane went all the same" [ ! -e "$pane" ]
check "the file that could not go is still there" [ -f "$folder/stuck" ]
check "the store beside it went" [ ! -e "$folder/Device.dvsetting" ]

[ -n "$stuck" ] && chattr -i "$stuck"
chmod 755 "$folder"
"$bin/velmora-ctl" uninstall --yes >"$work/second.out" 2>"$work/second.err"
status=$?
check "the second run finishes (status $status)" [ $status = 0 ]
[ $status = 0 ] || cat "$work/second.err"
check "the settings folder is gone" [ ! -e "$folder" ]
stuck=""

[ $fails = 0 ] && echo "e2e: uninstall incomplete passed" || echo "e2e: uninstall incomplete: $fails failed"
exit $fails
