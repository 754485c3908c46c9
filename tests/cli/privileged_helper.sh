#!/bin/bash
# velmora-ctl privileged, the administrator prompt's one helper: known steps run in order, each
# failure is named and the others still run; an unknown step runs nothing at all; links are
# removed or refused, never followed.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"

mkdir -p "$tmp/pane/Contents" "$tmp/outside"
echo keep >"$tmp/outside/thesis"
ln -s "$tmp/outside" "$tmp/pane/Contents/planted"
echo x >"$tmp/file"
ln -s "$tmp/outside/thesis" "$tmp/link"

"$ctl" privileged --explain "why" --step 3 chmod 600 "$tmp/file" --step 3 chmod 600 "$tmp/link" \
  --step 3 rm -rf "$tmp/pane" >"$tmp/out"
check "a failed step makes status 1" test $? -eq 1
check "the failure is named" grep -q "chmod 600: $tmp/link: a symbolic link" "$tmp/out"
check "the step before it ran" test "$(stat -c %a "$tmp/file")" = 600
check "the step after it ran" test ! -e "$tmp/pane"
check "a planted link's target stays" test -f "$tmp/outside/thesis"
check "a link's target keeps its mode" test "$(stat -c %a "$tmp/outside/thesis")" != 600

mkdir "$tmp/again"
"$ctl" privileged --explain "why" --step 3 rm -rf "$tmp/again" --step 3 sh -c "rm -rf $tmp" 2>"$tmp/err"
check "an unknown step is a usage error" test $? -eq 2
check "and nothing ran" test -d "$tmp/again"
check "it says which" grep -q "unknown step 'sh -c" "$tmp/err"
"$ctl" privileged --explain "why" --step 3 rm -rf relative 2>/dev/null >"$tmp/out"
check "a relative path is refused" grep -q "not an absolute path" "$tmp/out"
"$ctl" privileged --explain "only asks"
check "no steps: nothing to do" test $? -eq 0

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
