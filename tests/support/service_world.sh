# Outer set-up of the end-to-end tests that run velmora-service beside the agent: skips (77) when
# a program they need is missing, makes a temporary home and world (removed at exit) and readies
# the world. Source it, with bin set to the programs' folder, passing the reason python3 is
# needed; it sets work and exports the XDG folders and VELMORA_WORLD.
# shellcheck shell=bash
python_reason=$1
command -v python3 >/dev/null || { echo "SKIP: python3 is not installed ($python_reason)"; exit 77; }
command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed (the agent's bus)"; exit 77; }
[ -x "$bin/velmora-service" ] || { echo "SKIP: velmora-service is not built"; exit 77; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export VELMORA_WORLD="$work/world"
unset VELMORA_SERVICE_URL
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

"$bin/velmora-sim" init >/dev/null || { echo "FAIL velmora-sim init"; exit 1; }
