#!/usr/bin/env bash
# End to end: a device and then a favourite chosen in the settings window by selection alone, as
# assistive technology chooses over the AT-SPI bus (no click, no key), and the simulated device
# taking the chosen favourite's speed.
# Arguments: the velmora-ctl program (the other programs and the built pane lie beside it).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
export E2E_SUPPORT="$(cd "$here/../support" && pwd)"
. "$E2E_SUPPORT/e2e_world.sh"
. "$E2E_SUPPORT/xvfb.sh"
. "$E2E_SUPPORT/window_world.sh"
require_atspi
e2e_world "$1" world
start_xvfb "$work"

dbus-run-session -- bash -s "$bin" "$work" "$here" <<'INNER'
set -u
bin=$1 work=$2 here=$3
fail=0
. "$E2E_SUPPORT/wait.sh"
. "$E2E_SUPPORT/window_world.sh"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$bin/velmora-settings" --pane "$bin/../Velmora.prefPane" >"$work/settings.out" 2>"$work/settings.err" &
settings=$!
/usr/bin/python3 "$here/settings_window.py" choose-by-selection "$bin" "$VELMORA_WORLD" || fail=1
wait_for 20 bash -c "! kill -0 $settings" || { echo "FAIL the window did not quit"; fail=1; }
stop_world_agent
window_result
INNER
exit $?
