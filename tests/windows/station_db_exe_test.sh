#!/bin/sh
# tovrin-cli.exe keeps a line's serial numbers in the station database as the
# Linux tool does, and the two read each other's records. Each line is a
# Linux varnel-sim with three boards in turn, one on 127.0.0.1 and one on the
# namespace's 192.168.167.100 (two varnel-sim.exe cannot share the board's port
# under Wine, whatever their addresses).
#   sqlite:   two tovrin-cli.exe batches at once on one SQLite file, one per
#             line: six distinct numbers, each on the board that its record
#             names; the Linux tool's `db report --csv` lists all six.
#   postgres: tovrin-cli.exe on one line and the Linux tool on the other, both
#             as the station role over TCP with a password, against the
#             database the owner created (scripts/with-postgres --tcp): no
#             number twice. Then the database goes away (the station's
#             connection ended, its role may no longer log in) between two
#             boards: the batch ends with 14 and the second board is not erased.
# Skipped (77) without the Linux tovrin-cli and varnel-sim (scripts/test builds them) or, for
# postgres, outside scripts/with-postgres --tcp.
#   station_db_exe_test.sh WINE64 TOVRIN_CLI_EXE HOST_VARNEL_SIM HOST_TOVRIN_CLI SREC_CAT WORK_DIR sqlite|postgres
set -eu
wine=$1 cli=$2 sim=$3 host_cli=$4 srec_cat=$5 work=$6 engine=$7

for tool in "$host_cli" "$sim"; do
  [ -x "$tool" ] || { echo "no $tool: build it (scripts/test) to run this test"; exit 77; }
done
if [ "$engine" = postgres ] && [ -z "${TOVRIN_TEST_POSTGRES_TCP:-}" ]; then
  echo "no PostgreSQL over TCP: run under scripts/with-postgres --tcp"
  exit 77
fi

fail() {
  echo "FAILED: $*" >&2
  echo "(files kept in $work)" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cd "$work"
pids=""
trap 'for p in $pids; do kill -KILL "$p" 2>/dev/null || true; done' EXIT

head -c 4096 /dev/urandom >image.bin
"$srec_cat" image.bin -binary -offset 0x4000 -o image.s19 -motorola -address-length=4

# start_line NAME ADDRESS BOARDS SILENCE_MS: a line of boards F1, F2, ... whose
# flash ends in NAME.flash.1, NAME.flash.2, ...
start_line() {
  "$sim" --bind "$2" --udp-only --boards "$3" --reset-silence-ms "$4" --serial F1 \
    --flash-file "$1.flash" --quiet --time-limit 100 >"$1.sim.log" 2>&1 &
  pids="$pids $!"
  eval "$1_pid=$!"
  tries=0
  until grep -q '^ready' "$1.sim.log" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] && kill -0 "$!" 2>/dev/null || { cat "$1.sim.log" >&2; fail "line $1 did not start"; }
    sleep 0.1
  done
}

# stop_line NAME: Ctrl+C, so that the board's flash files are written.
stop_line() {
  eval "pid=\$$1_pid"
  kill -INT "$pid"
  wait "$pid" || fail "line $1 ended with $?"
}

# The serial number a board's flash carries (after the revision at 0x420).
serial_on() { dd if="$1" bs=1 skip=$((0x421)) count=15 2>/dev/null | tr '\000\377' '\n\n' | head -n 1; }

batch() {  # batch WHO ADDRESS DB COUNT OUT: a batch on the line at ADDRESS
  who=$1 address=$2 db=$3 count=$4 out=$5
  if [ "$who" = windows ]; then
    set -- "$wine" "$cli"
  else
    set -- env PGPASSFILE="${TOVRIN_TEST_PGPASS:-}" "$host_cli"
  fi
  "$@" --board "$address" --json batch image.s19 --serial-from SN0001 --db "$db" --count "$count" \
    --wait-seconds 20 --operator "$who" --log "$out.log" >"$out.json" 2>"$out.err"
}

# two_lines WHO_B DB: the exe on line a (127.0.0.1) and WHO_B (windows, linux)
# on line b (192.168.167.100), three boards each, both batches at once.
two_lines() {
  start_line a 127.0.0.1 3 500
  start_line b 192.168.167.100 3 500
  status_a=0 status_b=0
  batch windows 127.0.0.1 "$2" 3 a &
  a=$!
  batch "$1" 192.168.167.100 "$2" 3 b &
  b=$!
  wait "$a" || status_a=$?
  wait "$b" || status_b=$?
  [ "$status_a" -eq 0 ] || { cat a.json a.err >&2; fail "the batch on line a exited with $status_a"; }
  [ "$status_b" -eq 0 ] || { cat b.json b.err >&2; fail "the batch on line b ($1) exited with $status_b"; }
  stop_line a
  stop_line b
}

# Every board of the lines carries a number of its own, and it is the one its
# run recorded: the CSV's serial column against the boards' flash.
check_boards() {  # check_boards CSV LINE...
  csv=$1
  shift
  cut -d, -f6 "$csv" | tail -n +2 | sort >recorded.txt
  [ "$(wc -l <recorded.txt)" -eq 6 ] || { cat "$csv" >&2; fail "the report lists $(wc -l <recorded.txt) runs, not 6"; }
  [ -z "$(uniq -d recorded.txt)" ] || { cat "$csv" >&2; fail "a number was handed out twice"; }
  for line in "$@"; do
    for i in 1 2 3; do serial_on "$line.flash.$i"; done
  done | sort >on-boards.txt
  cmp -s recorded.txt on-boards.txt || { paste recorded.txt on-boards.txt >&2; fail "the boards carry other numbers"; }
  [ "$(cut -d, -f8 "$csv" | grep -c '^programmed$')" -eq 6 ] || { cat "$csv" >&2; fail "not every run programmed"; }
}

case $engine in
sqlite)
  # The file made on purpose by the Linux tool (schema and all), written by the
  # exes, read by the Linux tool again.
  "$host_cli" db init line.sqlite >/dev/null 2>create.err || { cat create.err >&2; fail "the Linux tool's file"; }
  two_lines windows line.sqlite
  "$host_cli" db report --csv --db line.sqlite >report.csv 2>report.err || { cat report.err >&2; fail "db report"; }
  check_boards report.csv a b
  ;;
postgres)
  # A database of its own for each try (ctest tries a test twice).
  psql -X -q -v ON_ERROR_STOP=1 -d postgres >/dev/null <<'SQL' || fail "a fresh database"
ALTER ROLE tovrin_station LOGIN;
DROP DATABASE IF EXISTS tovrin WITH (FORCE);
CREATE DATABASE tovrin OWNER tovrin_owner;
REVOKE ALL ON DATABASE tovrin FROM PUBLIC;
GRANT CONNECT ON DATABASE tovrin TO tovrin_station;
SQL
  # The owner creates the tables and grants the station role what the station
  # database guide gives it; the password file stands where libpq looks on
  # each system (%APPDATA%\postgresql\pgpass.conf on Windows).
  PGPASSFILE=$TOVRIN_TEST_PGPASS "$host_cli" db report --db "$TOVRIN_TEST_POSTGRES_OWNER" >/dev/null 2>owner.err ||
    { cat owner.err >&2; fail "the owner could not create the tables"; }
  PGPASSFILE=$TOVRIN_TEST_PGPASS psql -X -q -v ON_ERROR_STOP=1 "$TOVRIN_TEST_POSTGRES_OWNER" <<'SQL' || fail "grants"
GRANT USAGE ON SCHEMA public TO tovrin_station;
GRANT SELECT ON schema_migrations TO tovrin_station;
GRANT SELECT, INSERT, UPDATE ON serial_ranges, allocations, runs TO tovrin_station;
SQL
  appdata=$("$wine" cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
  appdata=$(WINEDEBUG=-all winepath -u "$appdata" 2>/dev/null || true)
  [ -n "$appdata" ] || fail "no APPDATA folder in the Wine prefix"
  mkdir -p "$appdata/postgresql"
  cp "$TOVRIN_TEST_PGPASS" "$appdata/postgresql/pgpass.conf"
  two_lines linux "$TOVRIN_TEST_POSTGRES_TCP"
  "$wine" "$cli" db report --csv --db "$TOVRIN_TEST_POSTGRES_TCP" >report.crlf 2>report.err ||
    { cat report.err >&2; fail "db report on Windows"; }
  tr -d '\r' <report.crlf >report.csv  # the exe ends its lines as Windows does
  check_boards report.csv a b
  grep -q ',windows,SN' report.csv && grep -q ',linux,SN' report.csv || { cat report.csv >&2; fail "both stations"; }

  # The database gone between two boards: the first is programmed, then the
  # station's connection ends and its role may no longer log in, during the
  # first board's reset silence.
  start_line c 127.0.0.1 2 4000
  status=0
  batch windows 127.0.0.1 "$TOVRIN_TEST_POSTGRES_TCP" 2 c &
  c=$!
  tries=0
  until [ "$(psql -X -At -d tovrin -c "SELECT count(*) FROM runs WHERE operator_name = 'windows' AND serial > 'SN0006'")" = 1 ]; do
    tries=$((tries + 1))
    [ "$tries" -le 400 ] && kill -0 "$c" 2>/dev/null || { cat c.json c.err >&2; fail "the first board's run was not recorded"; }
    sleep 0.05
  done
  psql -X -q -d tovrin -c "ALTER ROLE tovrin_station NOLOGIN" \
    -c "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'tovrin_station'" >/dev/null
  wait "$c" || status=$?
  psql -X -q -d tovrin -c "ALTER ROLE tovrin_station LOGIN" >/dev/null
  stop_line c
  [ "$status" -eq 14 ] || { cat c.json c.err >&2; fail "the batch without its database exited with $status, not 14"; }
  [ "$(serial_on c.flash.1)" = SN0007 ] || fail "the first board carries $(serial_on c.flash.1), not SN0007"
  [ "$(serial_on c.flash.2)" = F2 ] || fail "the second board was erased or stamped: it carries $(serial_on c.flash.2)"
  for secret in $(cut -d: -f5 "$TOVRIN_TEST_PGPASS"); do
    ! grep -q "$secret" a.err b.err c.err c.json || fail "a password in the output"
  done
  ;;
*)
  fail "engine $engine?"
  ;;
esac
trap - EXIT
rm -rf "$work"
echo "$engine: six boards, six numbers, read on both systems"
