# Sourced by the window's end-to-end tests: `start_xvfb WORK` starts a virtual X display of its
# own (a free display number, chosen by the server) and exports DISPLAY; a test without Xvfb
# ends as skipped (status 77) with the reason.
start_xvfb() {
  if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIP: Xvfb is not installed (apt-get install xvfb): the settings window needs a display"
    exit 77
  fi
  local fifo="$1/xvfb.display"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$1/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local number
  if ! read -r -t 20 number <"$fifo" || [ -z "$number" ]; then
    echo "FAIL: Xvfb did not start"; cat "$1/xvfb.log"; exit 1
  fi
  export DISPLAY=":$number"
}
