#!/usr/bin/env bash
# End to end, without a display: the bundle the build makes and `cmake --install` puts in place
# for the user (identifiers, version, build date, the pane and the agent inside, resources); a
# reinstall while the installed agent runs replaces it (Linux refuses to overwrite a running
# executable), drops files that left the bundle and dates the agent app; velmora-settings renders
# the installed pane offscreen and, doing so, registers and starts the agent on the world.
# Arguments: the velmora-ctl program (the other programs and the build lie beside it).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
export E2E_SUPPORT="$(cd "$here/../support" && pwd)"
. "$E2E_SUPPORT/check.sh"
. "$E2E_SUPPORT/wait.sh"
. "$E2E_SUPPORT/window_world.sh"
bin=$(cd "$(dirname "$1")" && pwd)
build=$(cd "$bin/.." && pwd)
install_script="$here/../../pane/ui/host/install_pane.cmake"
work=$(mktemp -d)
trap 'stop_world_agent; kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
unset VELMORA_WORLD VELMORA_PANE_DIR
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

info() {  # info PLIST KEY: a string of an Info.plist
  /usr/bin/python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],"rb"))[sys.argv[2]])' "$1" "$2" 2>/dev/null
}

# For the user: the data home's PreferencePanes, which the programs search.
cmake --install "$build" --component pane >"$work/install.out" 2>&1
check "cmake --install succeeds" [ $? = 0 ]
pane="$XDG_DATA_HOME/velmora/PreferencePanes/Velmora.prefPane"
agent_app="$pane/Contents/Library/LoginItems/Velmora Manager.app"
check "pane identifier" [ "$(info "$pane/Contents/Info.plist" CFBundleIdentifier)" = quillon.Velmora.prefpane ]
check "pane version" [ "$(info "$pane/Contents/Info.plist" CFBundleShortVersionString)" = 2.2.3 ]
check "pane bundle version" [ "$(info "$pane/Contents/Info.plist" CFBundleVersion)" = 2.2.3 ]
check "pane executable" [ "$(info "$pane/Contents/Info.plist" CFBundleExecutable)" = Velmora ]
date_pane=$(info "$pane/Contents/Info.plist" MyBuildDate)
sortable_date() { [[ "$1" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$ ]]; }
check "build date sorts as text" sortable_date "$date_pane"
check "agent identifier" [ "$(info "$agent_app/Contents/Info.plist" CFBundleIdentifier)" = quillon.Velmora.boa ]
check "agent version" [ "$(info "$agent_app/Contents/Info.plist" CFBundleVersion)" = 2.2.3 ]
check "agent and pane share the build date" [ "$(info "$agent_app/Contents/Info.plist" MyBuildDate)" = "$date_pane" ]
check "plug-in is executable" [ -x "$pane/Contents/MacOS/Velmora" ]
check "agent is executable" [ -x "$agent_app/Contents/MacOS/Velmora Manager" ]
check "agent runs" "$agent_app/Contents/MacOS/Velmora Manager" --version
for r in en.lproj/vl.strings en.lproj/dvvl.strings "Device Definitions/apple-magic-mouse-2.xml"; do
  check "pane resource $r" [ -f "$pane/Contents/Resources/$r" ]
  check "agent resource $r" [ -f "$agent_app/Contents/Resources/$r" ]
done

# A reinstall while the installed agent runs. A stand-in bundle whose agent is a long sleep is
# installed and started, then a changed one is installed over it.
fake="$work/build/Velmora.prefPane"
mkdir -p "$fake/Contents/MacOS" "$fake/Contents/Library/LoginItems/Velmora Manager.app/Contents/MacOS" "$fake/Contents/Resources"
echo '<plist version="1.0"><dict/></plist>' >"$fake/Contents/Info.plist"
cp /bin/true "$fake/Contents/MacOS/Velmora"
cp /bin/sleep "$fake/Contents/Library/LoginItems/Velmora Manager.app/Contents/MacOS/Velmora Manager"
echo old >"$fake/Contents/Resources/Old"
dest="$work/panes/Velmora.prefPane"
VELMORA_PANE_DIR="$work/panes" cmake -DVELMORA_BUNDLE_SOURCE="$fake" -P "$install_script" >/dev/null 2>&1
check "stand-in installed" [ -f "$dest/Contents/Resources/Old" ]
"$dest/Contents/Library/LoginItems/Velmora Manager.app/Contents/MacOS/Velmora Manager" 600 &
running=$!
sleep_until_busy() { grep -q "Velmora Manager" "/proc/$running/cmdline"; }
wait_for 5 sleep_until_busy
touch -d "2001-01-01" "$dest/Contents/Library/LoginItems/Velmora Manager.app"
cp /bin/ls "$fake/Contents/Library/LoginItems/Velmora Manager.app/Contents/MacOS/Velmora Manager"
rm "$fake/Contents/Resources/Old"
VELMORA_PANE_DIR="$work/panes" cmake -DVELMORA_BUNDLE_SOURCE="$fake" -P "$install_script" >"$work/reinstall.out" 2>&1
check "reinstall over a running agent succeeds" [ $? = 0 ]
check "the new agent is in place" cmp -s /bin/ls "$dest/Contents/Library/LoginItems/Velmora Manager.app/Contents/MacOS/Velmora Manager"
check "the running agent goes on" kill -0 $running
check "a file that left the bundle leaves the installed copy" [ ! -e "$dest/Contents/Resources/Old" ]
check "the agent app is dated now" [ "$(stat -c %Y "$dest/Contents/Library/LoginItems/Velmora Manager.app")" -gt "$(date -d 2020-01-01 +%s)" ]
kill $running 2>/dev/null

# The installed pane, found without --pane, rendered offscreen on a world: selecting it
# registers and starts the agent, as the window does.
export VELMORA_WORLD="$work/world"
"$bin/velmora-sim" init >/dev/null
dbus-run-session -- env QT_QPA_PLATFORM=offscreen "$bin/velmora-settings" --screenshot "$work/speed.png" --tab speed \
  >"$work/shot.out" 2>"$work/shot.err"
status=$?
check "screenshot of the installed pane" [ $status = 0 ]
[ $status = 0 ] || cat "$work/shot.err"
check "screenshot is a PNG" /usr/bin/python3 -c 'import sys; sys.exit(open(sys.argv[1],"rb").read(8) != b"\x89PNG\r\n\x1a\n")' "$work/speed.png"
check "agent registered from the installed pane" grep -q "$pane" "$VELMORA_WORLD/Library/LaunchAgents/quillon.Velmora.boa.plist"
check "agent started" wait_for 20 agent_running
stop_world_agent

[ $fails = 0 ] && echo "e2e: pane install passed" || echo "e2e: pane install: $fails failed"
exit $fails
