#!/usr/bin/env bash
# End to end: the settings window driven as assistive technology drives it, over the AT-SPI bus
# on a virtual display: typing into the sensitivity field, moving the tracking slider and
# toggling the acceleration check box, then reading the window and the store back.
# Arguments: the velmora-ctl program (the other programs and the built pane lie beside it), then
# the scenario of settings_window.py (default: controls).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
export E2E_SUPPORT="$(cd "$here/../support" && pwd)"
. "$E2E_SUPPORT/e2e_world.sh"
. "$E2E_SUPPORT/xvfb.sh"
. "$E2E_SUPPORT/window_world.sh"
require_atspi
e2e_world "$1" world
start_xvfb "$work"

dbus-run-session -- bash -s "$bin" "$work" "$here" "${2:-controls}" <<'INNER'
set -u
bin=$1 work=$2 here=$3 scenario=$4
fail=0
. "$E2E_SUPPORT/wait.sh"
. "$E2E_SUPPORT/window_world.sh"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$bin/velmora-settings" --pane "$bin/../Velmora.prefPane" >"$work/settings.out" 2>"$work/settings.err" &
settings=$!
/usr/bin/python3 "$here/settings_window.py" "$scenario" "$bin" "$VELMORA_WORLD" || fail=1
wait_for 20 bash -c "! kill -0 $settings" || { echo "FAIL the window did not quit"; fail=1; }
stop_world_agent
window_result
INNER
exit $?
