#!/usr/bin/env bash
# Velmora Manager on a real X server (Xvfb) with the AT-SPI bus and an emulated mouse: with the
# test dialog program's rule set by velmora-ctl, the agent moves the pointer onto the dialog's
# default button when it opens and back when it closes (read back by the program, XQueryPointer);
# in a Wayland session it says once that snapping is off and leaves the pointer alone.
# Exit 77 where Xvfb, AT-SPI or umockdev cannot run.
set -uo pipefail
ctl="$1"
bin="$(dirname "$ctl")"
data="$(cd "$(dirname "$0")/../data/udev" && pwd)"
launcher=/usr/libexec/at-spi-bus-launcher
for tool in umockdev-run dbus-run-session dbus-send Xvfb; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -x "$launcher" ] || { echo "SKIP: at-spi2-core is not installed ($launcher)"; exit 77; }
[ -x "$bin/velmora-test-dialog" ] || { echo "SKIP: $bin/velmora-test-dialog is not built"; exit 77; }


# Everything below runs on a private session bus of its own.
if [ -z "${VELMORA_E2E_IN_SESSION:-}" ]; then
  VELMORA_E2E_IN_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
fi

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  [ -n "${VELMORA_E2E_KEEP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME/applications" && chmod 700 "$XDG_RUNTIME_DIR"
unset VELMORA_WORLD WAYLAND_DISPLAY
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# A display of its own, its number told by the server once it listens.
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "SKIP: Xvfb did not start: $(cat "$tmp/xvfb.log")"; exit 77; }
export DISPLAY=":$(head -1 "$tmp/display")"

GSETTINGS_BACKEND=memory "$launcher" --launch-immediately >"$tmp/atspi.log" 2>&1 &
pids+=($!)
on=0
for _ in $(seq 100); do
  if dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null 2>&1; then on=1; break; fi
  sleep 0.1
done
[ "$on" = 1 ] || { echo "SKIP: the AT-SPI bus did not start: $(cat "$tmp/atspi.log")"; exit 77; }

# The agent snaps when its installed pane's build date is the newest: a pane's Info.plist stands
# in for the installed bundle.
mkdir -p "$XDG_DATA_HOME/velmora/PreferencePanes/Velmora.prefPane/Contents"
cat >"$XDG_DATA_HOME/velmora/PreferencePanes/Velmora.prefPane/Contents/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>quillon.Velmora.prefpane</string>
	<key>CFBundleShortVersionString</key>
	<string>2.2.3</string>
	<key>CFBundleVersion</key>
	<string>2.2.3</string>
	<key>MyBuildDate</key>
	<string>2026-12-08 00:00:00</string>
</dict>
</plist>
PLIST
# The program's desktop entry names it; the rules: nothing by default, its default button for it.
printf '[Desktop Entry]\nType=Application\nName=Velmora Test Dialog\nExec=%s\n' "$bin/velmora-test-dialog" \
  >"$XDG_DATA_HOME/applications/velmora-test-dialog.desktop"
"$ctl" snapping set --default --target none --no-notify >/dev/null || fail "snapping set --default"
"$ctl" snapping set --app velmora-test-dialog.desktop --target default --glide --bounce --no-notify >/dev/null ||
  fail "snapping set --app"

coproc DIALOG { QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 exec "$bin/velmora-test-dialog" 2>"$tmp/dialog.log"; }
pids+=($DIALOG_PID)
ask() {  # a command to the program, its one-line answer in $reply
  echo "$1" >&"${DIALOG[1]}"
  reply=""
  read -r -t 20 -u "${DIALOG[0]}" reply
}
read -r -t 30 -u "${DIALOG[0]}" ready
[ "$ready" = ready ] || { echo "SKIP: the test dialog program did not start: $(cat "$tmp/dialog.log")"; exit 77; }
pointer_at() {  # true when the pointer is within a pixel of $1,$2
  ask pointer
  set -- "$1" "$2" $reply
  [ "$3" = pointer ] && [ $(($4 - $1)) -ge -1 ] && [ $(($4 - $1)) -le 1 ] && [ $(($5 - $2)) -ge -1 ] && [ $(($5 - $2)) -le 1 ]
}
wait_pointer() {  # waits up to 10 s for the pointer at $1,$2
  for _ in $(seq 100); do pointer_at "$1" "$2" && return 0; sleep 0.1; done
  return 1
}

run_agent() {  # the agent on the emulated mouse, in the background, its log in $1
  umockdev-run -d "$data/usb-mouse.umockdev" -- "$bin/velmora-manager" >"$1" 2>&1 &
  agent=$!
  for _ in $(seq 100); do grep -q "running; watching" "$1" && return 0; sleep 0.1; done
  fail "the agent did not start: $(cat "$1")"
}
stop_agent() {
  kill -INT "$agent" 2>/dev/null
  wait "$agent" 2>/dev/null
}

# --- X11: snapping on ------------------------------------------------------------------------------
XDG_SESSION_TYPE=x11 run_agent "$tmp/agent-x11.log"
ask "warp 200 150"
sleep 1  # a few of the agent's passes over the main window, which has nothing to snap to
pointer_at 200 150 || fail "the pointer moved before any dialog: $reply"
ask open-default
set -- $reply
if [ "${1:-}" = shown ]; then
  bx=$2 by=$3
  wait_pointer "$bx" "$by" || fail "the pointer did not reach the default button at $bx,$by: $reply"
  ask close
  wait_pointer 200 150 || fail "the pointer did not go back when the dialog closed: $reply"
else
  fail "the dialog did not open: $reply"
fi
stop_agent
! grep -q "Cursor snapping is off" "$tmp/agent-x11.log" || fail "snapping said off on X11: $(cat "$tmp/agent-x11.log")"
! grep -q "fatal\|ERROR: AddressSanitizer" "$tmp/agent-x11.log" || fail "the agent failed: $(cat "$tmp/agent-x11.log")"

# --- Wayland: snapping off, said once --------------------------------------------------------------
XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=velmora-no-such-wayland run_agent "$tmp/agent-wayland.log"
ask "warp 200 150"
ask open-default
sleep 1
pointer_at 200 150 || fail "the pointer moved on Wayland: $reply"
ask close
stop_agent
[ "$(grep -c "Cursor snapping is off: on Wayland no program may move the pointer" "$tmp/agent-wayland.log")" -eq 1 ] ||
  fail "the Wayland message is not said exactly once: $(cat "$tmp/agent-wayland.log")"

ask quit
if [ "$fails" -ne 0 ]; then echo "$fails failed"; exit 1; fi
echo "2 passed, 0 failed"
