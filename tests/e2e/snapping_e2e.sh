#!/usr/bin/env bash
# End to end: automatic cursor snapping by velmora-manager on a temporary simulated Mac. A
# dialog opens: the cursor lands on its default button; the dialog closes: the cursor goes
# back (bounce). Arguments: the velmora-ctl program (velmora-sim and velmora-manager beside it).
set -u
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
. "$E2E_SUPPORT/e2e_world.sh"
e2e_world "$1" world
# The agent snaps only when its own pane is installed with a build date (the sibling product
# is absent here).
pane="$XDG_DATA_HOME/velmora/PreferencePanes/Velmora.prefPane/Contents"
mkdir -p "$pane"
cat >"$pane/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleVersion</key><string>2.2.3</string>
<key>MyBuildDate</key><string>2026-12-01 10:00</string></dict></plist>
PLIST

exec dbus-run-session -- bash -s "$bin" "$work" <<'INNER'
set -u
bin=$1 work=$2
fail=0
now_ms() { date +%s%3N; }
wait_for() {
  local deadline=$(( $(now_ms) + $1 )); shift
  while ! "$@" >/dev/null 2>&1; do
    [ "$(now_ms)" -gt "$deadline" ] && return 1
    sleep 0.02
  done
}
cursor_at() { "$bin/velmora-sim" show | grep -q "^cursor ($1)"; }
published() { "$bin/velmora-sim" show | grep -q "process window .* 777 x"; }

"$bin/velmora-ctl" snapping set --default --target default --jump --bounce --no-notify >/dev/null \
  || { echo "FAIL snapping set"; exit 1; }
"$bin/velmora-sim" trust on >/dev/null
"$bin/velmora-sim" move-cursor 300 300 >/dev/null
"$bin/velmora-manager" --quiet >"$work/agent.out" 2>"$work/agent.err" &
agent=$!
# The agent publishes that it is trusted (window width 777) once it runs.
wait_for 10000 published || { echo "FAIL the agent did not publish its accessibility flag"; cat "$work/agent.err"; exit 1; }

t0=$(now_ms)
out=$("$bin/velmora-sim" open-dialog TextEdit --buttons "Don't Save,Cancel,Save" --default Save --cancel Cancel)
save=$(printf '%s\n' "$out" | sed -n 's/^  "Save" at (\(.*\))$/\1/p')
[ -n "$save" ] || { echo "FAIL open-dialog: $out"; exit 1; }
if wait_for 3000 cursor_at "$save"; then
  echo "cursor on the default button after $(( $(now_ms) - t0 )) ms (including the tool's own start)"
else
  echo "FAIL the cursor did not reach the default button at ($save)"; "$bin/velmora-sim" show | tail -5; fail=1
fi

"$bin/velmora-sim" close-window >/dev/null
wait_for 3000 cursor_at "300, 300" || { echo "FAIL bounce did not bring the cursor back"; fail=1; }

kill -TERM $agent
wait $agent || { echo "FAIL agent exit status $?"; fail=1; }
[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || echo "e2e: 0 passed, 1 failed"
exit $fail
INNER
