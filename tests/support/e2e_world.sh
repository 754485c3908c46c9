# Sourced first by the end-to-end tests: `e2e_world CTL [WORLD-NAME]` sets bin (the folder of the
# programs), work (a temporary folder removed at exit, with every background job killed), the XDG
# folders under it and, given a name, VELMORA_WORLD=$work/NAME initialised with `velmora-sim init`.
# A test that needs a display sources xvfb.sh and calls start_xvfb "$work" after this.
e2e_world() {
  bin=$(cd "$(dirname "$1")" && pwd)
  work=$(mktemp -d)
  trap e2e_world_end EXIT
  export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  if [ -n "${2:-}" ]; then
    export VELMORA_WORLD="$work/$2"
    "$bin/velmora-sim" init >/dev/null || { echo "FAIL velmora-sim init"; exit 1; }
  else
    unset VELMORA_WORLD
  fi
}
# An agent the window started is asked to stop first, so that it restores its devices; what is
# left is killed: the temporary world goes with it.
e2e_world_end() {
  if declare -F stop_world_agent >/dev/null; then stop_world_agent; fi
  kill -9 $(jobs -p) 2>/dev/null
  rm -rf "$work"
}
# The AT-SPI client and bus the accessibility tests drive the window with; exit 77 without them.
require_atspi() {
  if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
    echo "SKIP: python3-pyatspi is not installed (scripts/install-deps installs it): no AT-SPI client"
    exit 77
  fi
  if [ ! -x /usr/libexec/at-spi-bus-launcher ] || ! command -v dbus-run-session >/dev/null 2>&1; then
    echo "SKIP: the AT-SPI bus (at-spi2-core) or dbus-run-session is missing: nothing to carry accessibility calls"
    exit 77
  fi
}
