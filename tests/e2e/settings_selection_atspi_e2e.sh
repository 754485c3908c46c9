#!/usr/bin/env bash
# End to end: a device and then a favourite chosen in the settings window by selection alone, as
# assistive technology chooses over the AT-SPI bus (no click, no key), and the simulated device
# taking the chosen favourite's speed.
# Arguments: the velmora-ctl program (the other programs and the built pane lie beside it).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
export E2E_SUPPORT="$(cd "$here/../support" && pwd)"
bin=$(cd "$(dirname "$1")" && pwd)
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
  echo "SKIP: python3-pyatspi is not installed (scripts/install-deps installs it): no AT-SPI client"
  exit 77
fi
if [ ! -x /usr/libexec/at-spi-bus-launcher ] || ! command -v dbus-run-session >/dev/null 2>&1; then
  echo "SKIP: the AT-SPI bus (at-spi2-core) or dbus-run-session is missing: nothing to carry accessibility calls"
  exit 77
fi
work=$(mktemp -d)
. "$E2E_SUPPORT/xvfb.sh"
. "$E2E_SUPPORT/window_world.sh"
trap 'stop_world_agent; kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export VELMORA_WORLD="$work/world"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
start_xvfb "$work"
"$bin/velmora-sim" init >/dev/null || { echo "FAIL velmora-sim init"; exit 1; }

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
[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || { echo "e2e: 0 passed, 1 failed"; tail -20 "$work/settings.err"; echo "--- agent:"; tail -20 "$VELMORA_WORLD/launchd/quillon.Velmora.boa.log"; }
exit $fail
INNER
exit $?
