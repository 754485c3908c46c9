#!/usr/bin/env bash
# The settings window on this machine's own desktop (no simulated Mac), on a umockdev machine
# with one USB mouse: without a display it ends with status 1 saying how to get one; on the
# offscreen platform it opens on the Applications tab saying why snapping is off, starts the
# desktop agent (directly: no systemd user manager answers here), lists the mouse in the store,
# and a second window finds that agent running instead of starting another; the agent is
# stopped at the end.
# Exit 77 where umockdev or a bus cannot run.
set -uo pipefail
ctl="$1"
bin=$(cd "$(dirname "$ctl")" && pwd)
data="$(cd "$(dirname "$0")/../data/udev" && pwd)"
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
command -v umockdev-run >/dev/null || { echo "SKIP: umockdev-run is not installed"; exit 77; }
command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
[ -x "$bin/../Velmora.prefPane/Contents/MacOS/Velmora" ] || { echo "SKIP: the pane bundle is not built"; exit 77; }
tmp=$(mktemp -d)
export XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/run" HOME="$tmp/home"
mkdir -p "$XDG_RUNTIME_DIR" "$HOME" && chmod 700 "$XDG_RUNTIME_DIR"
unset VELMORA_WORLD DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
# Under umockdev's preload fontconfig's caches are reported as leaked at exit; they are not ours.
printf 'leak:libfontconfig\n' >"$tmp/lsan.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$tmp/lsan.supp"
agents="$XDG_RUNTIME_DIR/velmora-agents"
stop_agent() {  # the record is "PID START-TICKS"
  local pid
  read -r pid _ <"$agents/quillon.Velmora.boa.pid" 2>/dev/null || return 0
  kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid"
  . "$E2E_SUPPORT/wait.sh"
  wait_for 15 bash -c "! kill -0 $pid" || kill -9 "$pid"
}
trap 'stop_agent; rm -rf "$tmp"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
machine=(umockdev-run -d "$data/usb-mouse.umockdev" --)

# No display and no world: the desktop is the default, and the window says how to get one.
"${machine[@]}" "$bin/velmora-settings" >/dev/null 2>"$tmp/nodisplay.err"
status=$?
[ "$status" = 1 ] || fail "without a display: status $status"
grep -q "no display" "$tmp/nodisplay.err" || fail "without a display: $(cat "$tmp/nodisplay.err")"
grep -q "AddressSanitizer\|Segmentation" "$tmp/nodisplay.err" && fail "crashed: $(cat "$tmp/nodisplay.err")"
"$bin/velmora-settings" --version | grep -q "^system: desktop (no --world or VELMORA_WORLD)" ||
  fail "--version names no desktop system"
"$bin/velmora-settings" --system desktop --world "$tmp/w" >/dev/null 2>&1
[ $? = 2 ] || fail "--world with --system desktop is not refused as a usage error"

dbus-run-session -- "${machine[@]}" bash -s "$bin" "$tmp" <<'INNER' || fails=$((fails + 1))
set -u
bin=$1 tmp=$2
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
agents="$XDG_RUNTIME_DIR/velmora-agents"
shot() {  # $1: name
  QT_QPA_PLATFORM=offscreen "$bin/velmora-settings" --system desktop --pane "$bin/../Velmora.prefPane" \
    --tab apps --screenshot "$tmp/$1.png" --delay 3 >/dev/null 2>"$tmp/$1.err"
}
shot first
status=$?
[ "$status" = 0 ] || fail "the window did not open: status $status: $(tail -5 "$tmp/first.err")"
[ -s "$tmp/first.png" ] || fail "no screenshot"
grep -q "Cursor snapping is off: no display server was found in this session." "$tmp/first.err" ||
  fail "the reason for no snapping is not told: $(cat "$tmp/first.err")"
grep -q "on this machine (system: desktop" "$agents/quillon.Velmora.boa.log" 2>/dev/null ||
  fail "the window started no desktop agent: $(cat "$agents/quillon.Velmora.boa.log" 2>&1)"
first=$(cat "$agents/quillon.Velmora.boa.pid" 2>/dev/null)
"$bin/velmora-ctl" store show 2>&1 | grep -q "93a-2510-0-USB" || fail "the window did not store the mouse"
shot second
status=$?
[ "$status" = 0 ] || fail "the second window did not open: status $status"
[ "$(grep -c "on this machine (system: desktop" "$agents/quillon.Velmora.boa.log")" = 1 ] ||
  fail "the second window started another agent: $(cat "$agents/quillon.Velmora.boa.log")"
[ "$(cat "$agents/quillon.Velmora.boa.pid" 2>/dev/null)" = "$first" ] || fail "the agent was replaced"
exit $fails
INNER
read -r agent _ <"$agents/quillon.Velmora.boa.pid" 2>/dev/null
stop_agent
[ -n "${agent:-}" ] && kill -0 "$agent" 2>/dev/null && fail "the agent the window started could not be stopped"
if [ "$fails" -ne 0 ]; then echo "$fails failed"; exit 1; fi
echo "1 passed, 0 failed"
