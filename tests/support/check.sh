# Sourced by the command-line tests: `check NAME COMMAND...` runs a condition and counts a
# failure under its name; the script ends with the count in $fails.
fails=0
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then :; else echo "FAIL: $name"; fails=$((fails + 1)); fi
}
