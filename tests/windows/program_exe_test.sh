#!/bin/sh
# tovrin-cli.exe programs a whole flash image into varnel-sim.exe, both run as a
# user runs them (under Wine, inside the test session's namespace), and the
# board's flash must then equal the image byte for byte. srec_cat, an independent
# S-record writer, makes the file from random bytes and the image the board must
# hold (the revision and serial number stamped over the identity record); the
# run log's SHA-256 must equal sha256sum's. With tshark and the dissector, the
# run's --pcap capture must show every acknowledged frame matched to its request.
#   program_exe_test.sh WINE64 TOVRIN_CLI_EXE VARNEL_SIM_EXE SREC_CAT WORK_DIR udp|tcp [TSHARK DISSECTOR]
set -eu
wine=$1 cli=$2 sim=$3 srec_cat=$4 work=$5 transport=$6 tshark=${7:-} dissector=${8:-}

fail() {
  echo "FAILED: $*" >&2
  echo "(files kept in $work)" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cd "$work"  # the exes get relative paths, which mean the same on both systems
# The file, the run log, the trace and the board's flash lie in a folder named in
# Cyrillic: the exes must take their arguments from the wide command line and
# open the names with the wide calls. Wine reads the names given here as UTF-8.
export LC_ALL=C.UTF-8
dir=прошивка
mkdir "$dir"

# The run never sends the last 64 bytes of the flash (its scan stops short of
# the end), so the image ends there and they stay erased.
head -c $((0x1FFC0)) /dev/urandom >image.bin
"$srec_cat" image.bin -binary -o "$dir/image.s19" -motorola -address-length=4
# Revision C, serial number SN0042 and its NUL at 0x420.
"$srec_cat" "(" image.bin -binary -exclude 0x420 0x428 \
  -generate 0x420 0x428 -repeat-data 0x43 0x53 0x4E 0x30 0x30 0x34 0x32 0x00 \
  ")" -fill 0xFF 0 0x20000 -o expected.bin -binary

"$wine" "$sim" --"$transport"-only --flash-file "$dir/flash.bin" --quiet --time-limit 100 >sim.log 2>&1 &
sim_pid=$!
trap 'kill -KILL "$sim_pid" 2>/dev/null || true' EXIT
tries=0
until grep -q '^ready' sim.log; do
  tries=$((tries + 1))
  if [ "$tries" -gt 300 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
    cat sim.log >&2
    fail "varnel-sim.exe did not start"
  fi
  sleep 0.1
done

status=0
"$wine" "$cli" --board 127.0.0.1 program "$dir/image.s19" --serial SN0042 --rev C --json --log "$dir/runs.jsonl" \
  --trace "$dir/trace.jsonl" --pcap "$dir/run.pcap" >report.json 2>cli.err || status=$?
[ "$status" -eq 0 ] || { cat report.json cli.err >&2; fail "tovrin-cli.exe exited with $status"; }

link=$(echo "$transport" | tr a-z A-Z)
grep -q "\"link\":\"$link\"" report.json || { cat report.json >&2; fail "not programmed over $link"; }
grep -q '"message":"Download Successful"' report.json || { cat report.json >&2; fail "no success reported"; }
sha256=$(sha256sum "$dir/image.s19" | cut -d' ' -f1)
grep -q "\"sha256\":\"$sha256\"" "$dir/runs.jsonl" || { cat "$dir/runs.jsonl" >&2; fail "the run log's SHA-256 is not $sha256"; }
grep -q '"file":"прошивка/image.s19"' "$dir/runs.jsonl" || { cat "$dir/runs.jsonl" >&2; fail "the run log's file name"; }
grep -q '"event":"request"' "$dir/trace.jsonl" || fail "no trace in $dir/trace.jsonl"
cmp expected.bin "$dir/flash.bin" || fail "the board's flash differs from the image"
acknowledged=$(grep -o '"acknowledged":[0-9]*' report.json | cut -d: -f2)
if [ -n "$tshark" ]; then
  matched=$(HOME="$work" "$tshark" -2 -n -r "$dir/run.pcap" -X "lua_script:$dissector" \
    -Y 'varnel.command == 0x70 && varnel.reply == 1 && varnel.ack == 0x4f && varnel.response_to' 2>/dev/null |
    wc -l)
  [ "$matched" -eq "$acknowledged" ] ||
    fail "the capture shows $matched acknowledged program frames, the run $acknowledged"
fi

# Ctrl+C (Wine turns SIGINT into it) stops the board, which exits with 0.
kill -INT "$sim_pid"
status=0
wait "$sim_pid" || status=$?
trap - EXIT
[ "$status" -eq 0 ] || { cat sim.log >&2; fail "varnel-sim.exe ended with $status after Ctrl+C"; }
rm -rf "$work"
echo "programmed $acknowledged frames over $link, byte-exact"
