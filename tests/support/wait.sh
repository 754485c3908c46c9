# Sourced by the end-to-end tests: `wait_for SECONDS COMMAND...` runs COMMAND every 20 ms until
# it succeeds (status 0) or the time runs out (status 1).
now_ms() { date +%s%3N; }
wait_for() {
  local deadline=$(( $(now_ms) + $1 * 1000 )); shift
  while ! "$@" >/dev/null 2>&1; do
    [ "$(now_ms)" -gt "$deadline" ] && return 1
    sleep 0.02
  done
}
