#!/usr/bin/env bash
# End to end: velmora-service on a temporary world, found through its address file, takes an
# upload and answers the ranking and the version list to a plain HTTP client (python3's
# urllib), refuses a bad query with 400, serves HTTPS with --tls-cert and --tls-key, and ends
# cleanly (exit 0, address file gone) on SIGTERM.
# Arguments: the velmora-ctl program (velmora-service lies beside it).
set -u
. "$(cd "$(dirname "$0")/../support" && pwd)/wait.sh"
bin=$(cd "$(dirname "$1")" && pwd)
command -v python3 >/dev/null || { echo "SKIP: python3 is not installed (the test's HTTP client)"; exit 77; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
fail=0

"$bin/velmora-service" --world "$work/world" --listen 127.0.0.1:0 2>"$work/service.err" &
service=$!
wait_for 10 test -s "$work/world/service/url" || { echo "FAIL no address file"; cat "$work/service.err"; exit 1; }
url=$(cat "$work/world/service/url")
case "$url" in http://127.0.0.1:[0-9]*) ;; *) echo "FAIL address file holds '$url'"; fail=1 ;; esac

get() {  # get PATH?QUERY: prints "STATUS BODY"
  python3 - "$url$1" <<'PY'
import sys, urllib.request, urllib.error
try:
    with urllib.request.urlopen(sys.argv[1], timeout=10) as r:
        print(r.status, r.read().decode())
except urllib.error.HTTPError as e:
    print(e.code, e.read().decode())
PY
}

up=$(get "/velmora/xml/setting.php?VID=76&PID=613&MID=0&Tra=Bluetooth&Dev=Magic%20Trackpad&Mac=e2e-digest&OSV=101507&App=&Acc=0.6875&Sen=1200")
[ "${up%% *}" = 200 ] || { echo "FAIL upload: $up"; fail=1; }
rank=$(get "/velmora/xml/setting_rank.php?VID=76&PID=613&MID=0&Tra=Bluetooth&OS0=101200&OS1=0&Cnt=20")
case "$rank" in
  200*"<key>Acc</key>"*"<real>0.6875</real>"*"<key>Qty</key>"*"<integer>1</integer>"*"<key>Tot</key>"*) ;;
  *) echo "FAIL ranking: $rank"; fail=1 ;;
esac
files=$(get "/velmora/xml/file.php?app=vl&osv=101507")
case "$files" in 200*"<string>Velmora"*".dmg</string>"*) ;; *) echo "FAIL version list: $files"; fail=1 ;; esac
bad=$(get "/velmora/xml/setting.php?VID=76")
case "$bad" in "400 PID is missing"*) ;; *) echo "FAIL bad query: $bad"; fail=1 ;; esac
[ -f "$work/world/service/service.sqlite" ] || { echo "FAIL no database in the world"; fail=1; }
grep -q "e2e-digest" "$work/service.err" && { echo "FAIL the machine identifier reached the log"; fail=1; }
[ "$(grep -c ' GET /velmora/xml/' "$work/service.err")" = 4 ] || { echo "FAIL not one log line per request"; cat "$work/service.err"; fail=1; }

# HTTPS served by the service itself, with the tests' loopback certificate.
data=$(cd "$(dirname "$0")/../data/service" && pwd)
"$bin/velmora-service" --listen 127.0.0.1:0 --storage "sqlite:$work/tls.sqlite" --address-file "$work/tls.url" \
  --tls-cert "$data/loopback-cert.pem" --tls-key "$data/loopback-key.pem" 2>"$work/tls.err" &
tls_service=$!
if wait_for 10 test -s "$work/tls.url"; then
  tls_url=$(cat "$work/tls.url")
  case "$tls_url" in https://127.0.0.1:[0-9]*) ;; *) echo "FAIL TLS address file holds '$tls_url'"; fail=1 ;; esac
  files=$(python3 - "$tls_url/velmora/xml/file.php?app=vl&osv=101507" "$data/loopback-cert.pem" <<'PY'
import ssl, sys, urllib.request
context = ssl.create_default_context(cafile=sys.argv[2])
with urllib.request.urlopen(sys.argv[1], timeout=10, context=context) as r:
    print(r.status, r.read().decode())
PY
)
  case "$files" in 200*"<string>Velmora"*) ;; *) echo "FAIL version list over HTTPS: $files"; fail=1 ;; esac
else
  echo "FAIL the HTTPS service did not start"; cat "$work/tls.err"; fail=1
fi
kill -TERM "$tls_service"; wait "$tls_service"

kill -TERM "$service"
wait "$service"; status=$?
[ "$status" = 0 ] || { echo "FAIL exit status $status after SIGTERM"; fail=1; }
[ -e "$work/world/service/url" ] && { echo "FAIL address file left behind"; fail=1; }

"$bin/velmora-service" --listen 0.0.0.0:0 2>"$work/public.err"; status=$?
[ "$status" = 2 ] && grep -q -- "--public" "$work/public.err" || { echo "FAIL a public address without --public: $status"; fail=1; }
"$bin/velmora-service" --listn 127.0.0.1:0 2>"$work/typo.err"; status=$?
[ "$status" = 2 ] && grep -q -- "'--listen'" "$work/typo.err" || { echo "FAIL a mistyped option: $status"; fail=1; }

[ "$fail" = 0 ] && echo "velmora-service e2e passed"
exit "$fail"
