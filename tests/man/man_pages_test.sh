#!/bin/sh
# The manual pages against the programs: every page renders without a warning,
# and each names every option and command that its program's --help lists (for
# tovrin-cli also each command's --help), so a page cannot fall behind its program.
#   man_pages_test.sh MAN_DIR TOVRIN_CLI VARNEL_SIM TOVRIN_STATION
set -eu
man_dir=$1 cli=$2 sim=$3 station=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# ASCII hyphens, and a word broken after a hyphen at a line's end made whole again.
render() {
  if ! LC_ALL=C MANWIDTH=80 man --warnings -l "$man_dir/$1.1.gz" >"$work/$1.raw" 2>"$work/$1.err" ||
     [ -s "$work/$1.err" ]; then
    echo "$1(1) does not render cleanly:"
    cat "$work/$1.err"
    failed=1
  fi
  sed -e ':join' -e '/-$/{N;s/-\n *//;b join' -e '}' "$work/$1.raw" >"$work/$1.txt"
}

# Options are words starting with '-' (not the hyphen inside "S-record" or "64-byte").
options_in() {
  grep -o -E '(^|[][ ,(])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[][ ,(]//' | sort -u
}

# $1: page, $2: file of words the page must name as whole words.
expect_named() {
  while read -r word; do
    grep -q -E -e "(^|[^A-Za-z0-9-])$word([^A-Za-z0-9-]|$)" "$work/$1.txt" ||
      { echo "$1(1) does not name $word"; failed=1; }
  done <"$2"
}

for page in "$man_dir"/*.1.gz; do
  page=${page##*/}
  render "${page%.1.gz}"
done

"$cli" --help >"$work/cli.help"
awk '/^Subcommands:/ { listing = 1; next } listing && NF == 0 { exit } listing { print $1 }' \
  "$work/cli.help" >"$work/cli.commands"
[ -s "$work/cli.commands" ] || { echo "tovrin-cli --help lists no commands"; failed=1; }
while read -r command; do
  "$cli" "$command" --help >>"$work/cli.help" </dev/null
done <"$work/cli.commands"
options_in <"$work/cli.help" >"$work/cli.options"
expect_named tovrin-cli "$work/cli.options"
expect_named tovrin-cli "$work/cli.commands"

"$sim" --help | options_in >"$work/sim.options"
expect_named varnel-sim "$work/sim.options"

"$station" --help | options_in >"$work/station.options"
expect_named tovrin-station "$work/station.options"

exit "$failed"
