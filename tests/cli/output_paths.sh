#!/bin/bash
# Every command that writes a file the user names (plist convert, exchange export, curve plot)
# writes only a new file or a regular one: a device, FIFO, socket, folder, a link to one of
# those, a link to nothing or a link loop is refused with a message and status 1 and left as it
# was; a link to a regular file replaces that file and stays a link.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
data="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"

mkdir -p "$tmp/store"
store="$tmp/store/Device.dvsetting"
"$ctl" favourite set --store "$store" --device 93a-2510-0-USB --favourite 2 --sensitivity 900 --create \
  >/dev/null 2>&1
check "a store to export from" test -s "$store"

# write NAME OUT: the three writers, each to OUT.
write() {
  case "$1" in
    plist) "$ctl" plist convert --to xml "$data/../../resources/devices/magic-mouse-2-bluetooth.plist" "$2" ;;
    export) "$ctl" exchange export --store "$store" --all -o "$2" >/dev/null ;;
    plot) "$ctl" curve plot --resolution 400 --tracking 1 -o "$2" ;;
  esac
}

echo old > "$tmp/old"
not_old() { ! cmp -s "$1" "$tmp/old"; }

mkfifo "$tmp/fifo"
mkdir "$tmp/folder"
ln -s /dev/null "$tmp/to-device"
ln -s "$tmp/fifo" "$tmp/to-fifo"
ln -s "$tmp/nothing" "$tmp/dangling"
ln -s "$tmp/loop-b" "$tmp/loop-a"
ln -s "$tmp/loop-a" "$tmp/loop-b"
python3 -c 'import socket,sys; s=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1])' "$tmp/socket"

for w in plist export plot; do
  for bad in fifo folder to-device to-fifo dangling loop-a socket; do
    # A FIFO must not make the command wait for a reader.
    timeout 10 bash -c "$(declare -f write); ctl='$ctl' data='$data' store='$store'; write $w '$tmp/$bad'" \
      2>"$tmp/err"
    status=$?
    check "$w to $bad exits 1 (got $status)" test $status -eq 1
    check "$w to $bad says why" grep -q "not written" "$tmp/err"
  done
  check "$w: the FIFO is still a FIFO" test -p "$tmp/fifo"
  check "$w: the link to the device is still a link" test -L "$tmp/to-device"
  check "$w: the dangling link still dangles" test -L "$tmp/dangling" -a ! -e "$tmp/nothing"
  check "$w: the folder is still a folder" test -d "$tmp/folder"
  check "$w: the socket is still a socket" test -S "$tmp/socket"

  rm -f "$tmp/new" "$tmp/regular" "$tmp/to-regular"
  write $w "$tmp/new"
  check "$w to a new file exits 0" test $? -eq 0 -a -s "$tmp/new"
  echo old > "$tmp/regular"
  write $w "$tmp/regular"
  status=$?
  check "$w over a regular file exits 0" test $status -eq 0
  check "$w: the regular file was replaced" not_old "$tmp/regular"
  echo old > "$tmp/regular"
  ln -s "$tmp/regular" "$tmp/to-regular"
  write $w "$tmp/to-regular"
  check "$w through a link to a regular file exits 0" test $? -eq 0
  check "$w: the link stays a link" test -L "$tmp/to-regular"
  check "$w: the file it names was replaced" not_old "$tmp/regular"
done

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
