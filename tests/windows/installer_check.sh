#!/bin/sh
# The NSIS installer as an administrator runs it, silently, under Wine: it puts
# the exes, the README and the Wireshark dissector under Program Files with the uninstaller and a
# Start-menu folder, the installed tovrin-cli.exe runs, and the uninstaller
# removes what was installed. Run inside scripts/with-wine.
#   installer_check.sh INSTALLER.exe
set -eu
installer=$1
dir="$WINEPREFIX/drive_c/Program Files/Tovrin"

fail() {
  echo "installer check FAILED: $*" >&2
  exit 1
}

timeout 120 "$WINE64" "$installer" /S </dev/null
for file in tovrin-cli.exe tovrin-station.exe varnel-sim.exe README.txt varnel.lua Uninstall.exe; do
  [ -f "$dir/$file" ] || fail "$file is not in Program Files\\Tovrin"
done
find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Tovrin/Tovrin README.lnk' | grep -q . ||
  fail "no Start-menu entry"
find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Tovrin/Tovrin Station.lnk' | grep -q . ||
  fail "no Start-menu entry for the station"
version=$(timeout 60 "$WINE64" "$dir/tovrin-cli.exe" --version </dev/null | tr -d '\r')
case "$version" in
  "tovrin-cli "*) ;;
  *) fail "the installed tovrin-cli.exe says: $version" ;;
esac

# The uninstaller runs from a copy of itself and returns at once (Wine quotes the
# _?= argument that would keep it in place): wait for it, within bounds, until
# both the folder and the Start-menu entries are gone (it removes them in turn).
timeout 120 "$WINE64" "$dir/Uninstall.exe" /S </dev/null
start_menu_left() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Tovrin/*' | grep -q .; }
tries=0
while [ -e "$dir" ] || start_menu_left; do
  tries=$((tries + 1))
  if [ "$tries" -gt 300 ]; then
    [ -e "$dir" ] && fail "Program Files\\Tovrin is still there 30 s after uninstalling"
    fail "the Start-menu entry is still there 30 s after uninstalling"
  fi
  sleep 0.1
done
echo "installer: installed, ran $version, uninstalled"
