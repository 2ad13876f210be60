#!/bin/sh
# tovrin-cli.exe under Wine on a station with two network ports, two boards
# after each other on each: scripts/gang-demo builds the ports inside the test
# session's namespace, the boards' ends in namespaces of their own, and checks
# every board's flash. The boards are the Linux varnel-sim: Wine checks a bound
# address against the interfaces of its server's namespace, so varnel-sim.exe
# cannot listen inside a board's own namespace. Each port has an address of its
# own, as a Windows station needs (the adapter's address is what a socket binds
# to); the ports are named once by name and once by index. The boards answer
# UDP only: Wine hands IP_UNICAST_IF to Linux, which heeds it for datagrams
# but not for a TCP connect, so the TCP fallback leaves by the route's port
# under Wine. Skipped (77) when no Linux varnel-sim has been built.
#   gang_exe_test.sh WINE64 TOVRIN_CLI_EXE HOST_VARNEL_SIM SOURCE_DIR
set -eu
wine=$1 cli=$2 sim=$3 source=$4

[ -x "$sim" ] || { echo "no Linux varnel-sim at $sim: build it (scripts/test) to run this test"; exit 77; }

for by in name index; do
  index=""
  [ "$by" = name ] || index=1
  status=0
  TOVRIN_GANG_INSIDE=1 TOVRIN_GANG_ADDRESSES=each TOVRIN_GANG_BY_INDEX=$index TOVRIN_GANG_BOARDS=--udp-only \
    TOVRIN_GANG_CLI="$wine $cli" TOVRIN_GANG_SIM="$sim" "$source/scripts/gang-demo" 2 2 >out.txt 2>err.txt || status=$?
  if [ "$status" -ne 0 ] || [ "$(grep -c 'byte-exact' err.txt)" -ne 4 ]; then
    cat out.txt err.txt >&2
    echo "FAILED: the gang by $by exited with $status" >&2
    exit 1
  fi
done

# A port that is not there: a usage error before anything is sent.
status=0
"$wine" "$cli" identity --interface nosuch >out.txt 2>err.txt || status=$?
if [ "$status" -ne 64 ] || ! grep -q 'no network interface nosuch' err.txt; then
  cat out.txt err.txt >&2
  echo "FAILED: --interface nosuch exited with $status" >&2
  exit 1
fi
