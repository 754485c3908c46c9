#!/usr/bin/env bash
# Resident memory of the settings host with the Velmora pane selected, on a fresh default world:
# velmora-settings runs offscreen, and once the pane has started the agent and listed the
# devices, its VmRSS and VmHWM are read from /proc. Usage: bench/settings_memory.sh [BIN_DIR]
# (default build/release/bin; a sanitizer build reads several times higher).
set -u
bin=$(cd "${1:-$(dirname "$0")/../build/release/bin}" && pwd)
work=$(mktemp -d)
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" VELMORA_WORLD="$work/world"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
trap '"$bin/velmora-ctl" agent stop >/dev/null 2>&1; rm -rf "$work"' EXIT
"$bin/velmora-sim" init >/dev/null
dbus-run-session -- bash -s "$bin" "$work" <<'INNER'
bin=$1 work=$2
QT_QPA_PLATFORM=offscreen "$bin/velmora-settings" >/dev/null 2>"$work/err" &
pid=$!
running() { "$bin/velmora-ctl" agent status --json 2>/dev/null | grep -q '"running":true'; }
for _ in $(seq 600); do running && break; sleep 0.1; done
# The devices appear after the pane's standby time (2.2 s); then the window has settled.
sleep 4
grep -E "VmRSS|VmHWM" "/proc/$pid/status" | awk '{ printf "velmora-settings %s %d MiB\n", $1, $2 / 1024 }'
kill -TERM $pid; wait $pid
INNER
