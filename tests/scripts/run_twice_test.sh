#!/usr/bin/env bash
# ./run twice on one working folder, the console replaced by a stand-in: the second refuses and
# leaves the first's demo server answering; so does a demo-server reset while the first runs; the
# DB.ini it writes is its owner's only; the server stops when the first ends, and a reset then
# goes through. Everything lives under a folder of the test's own.
set -euo pipefail
root=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/run-twice.XXXXXX")
first=
cleanup() {
  touch "$tmp/release"
  [ -n "$first" ] && wait "$first" 2>/dev/null || true
  "$root/scripts/demo-server" stop "$tmp/data/gmconsole/demo-server" >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The stand-in: says it started, then waits (bounded) until the test lets it end.
cat >"$tmp/console" <<'SH'
#!/usr/bin/env bash
touch "$STANDIN_DIR/started.$STANDIN_NAME"
for _ in $(seq 1 1800); do [ -f "$STANDIN_DIR/release" ] && exit 0; sleep 0.1; done
SH
chmod +x "$tmp/console"
export XDG_DATA_HOME=$tmp/data GMCONSOLE=$tmp/console STANDIN_DIR=$tmp DISPLAY=stand-in

STANDIN_NAME=first "$root/run" >"$tmp/first.log" 2>&1 &
first=$!
for _ in $(seq 1 1200); do
  [ -f "$tmp/started.first" ] && break
  kill -0 "$first" 2>/dev/null || { cat "$tmp/first.log" >&2; fail "the first ./run ended early"; }
  sleep 0.1
done
[ -f "$tmp/started.first" ] || fail "the first console did not start within 120 s"

work=$tmp/data/gmconsole/work
[ "$(stat -c %a "$work/DB.ini")" = 600 ] || fail "DB.ini is $(stat -c %a "$work/DB.ini"), not 600"

set +e
STANDIN_NAME=second "$root/run" >"$tmp/second.log" 2>&1
second=$?
set -e
[ "$second" -ne 0 ] || fail "the second ./run did not refuse"
grep -q "already works in" "$tmp/second.log" || { cat "$tmp/second.log" >&2; fail "no message from the second ./run"; }
[ ! -f "$tmp/started.second" ] || fail "a second console was started"

. "$tmp/data/gmconsole/demo-server/server.env"
answer() { mariadb --no-defaults -h127.0.0.1 -P"$PORT" -uroot -p480317 -N -e 'SELECT 1' 2>/dev/null; }
[ "$(answer)" = 1 ] || fail "the demo server stopped under the first console"

set +e
"$root/scripts/demo-server" reset >"$tmp/reset.log" 2>&1
reset=$?
set -e
[ "$reset" -ne 0 ] || fail "demo-server reset did not refuse while the console runs"
grep -q "uses this server" "$tmp/reset.log" || { cat "$tmp/reset.log" >&2; fail "no word from the refused reset"; }
[ "$(answer)" = 1 ] || fail "the refused reset stopped the demo server under the console"

touch "$tmp/release"
wait "$first" || fail "the first ./run failed"
first=
[ -z "$(answer)" ] || fail "the demo server still runs after the first console ended"
"$root/scripts/demo-server" reset >"$tmp/reset.log" 2>&1 || { cat "$tmp/reset.log" >&2; fail "reset refused with no console"; }
[ ! -e "$tmp/data/gmconsole/demo-server/loaded" ] || fail "the reset left the demo zone loaded"
