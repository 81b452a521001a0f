#!/usr/bin/env bash
# The X server's own screensaver (here set to start after 2 idle seconds) stays
# off while a slideshow runs and starts again once it stops or the program ends.
# That holds beside a desktop service on the session bus, which a stand-in plays
# for the screensaver run. A display-mode run (-root) leaves the screen to the daemon.
binary=$1
if [ -z "${TAVLIN_ON_PRIVATE_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session (package dbus) is not installed"; exit 77; }
  TAVLIN_ON_PRIVATE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
command -v xset >/dev/null || skip "xset (package x11-xserver-utils) is not installed"
state_tool=${TAVLIN_XSCREENSAVERSTATE:-}
stub=${TAVLIN_SCREENSAVER_STUB:-}
[ -x "$state_tool" ] && [ -x "$stub" ] || skip "the screensaver state tool or stand-in service was not built"
start_x

pictures="$e2e_tmp/pictures"
colour_pictures "$pictures" 200x100
hive="$XDG_CONFIG_HOME/tavlin/registry/HKEY_CURRENT_USER.reg"

finish() {
  wait_exit || fail "the program did not end"
  [ "$app_status" -eq 0 ] || fail "the program ended with an error (exit $app_status)"
}
saver() { "$state_tool"; }
saver_on() { [ "$(saver)" = on ]; }
saver_off() { [ "$(saver)" = off ]; }
# The key that ends the server's screensaver reaches no window.
wake() {
  xdotool key shift
  wait_until saver_off || fail "a key did not end the X screensaver"
}
# The server's screensaver stays off for 4 s, twice its timeout.
stays_off() { # what runs
  for _ in $(seq 16); do
    [ "$(saver)" = off ] || fail "the X screensaver came on during $1"
    sleep 0.25
  done
}

xset s 2 || fail "xset could not set the screensaver timeout"
# The server blanks by itself after 2 idle seconds: the ground the checks below stand on.
wait_until saver_on || fail "the X screensaver did not start on an idle server: $(saver)"

# The first run stores the folder for the runs after it; without a slideshow the
# server's screensaver comes on over the viewer.
start_app first.log "$pictures"
wait_until saver_on || fail "the X screensaver did not start over the viewer without a slideshow"
kill -TERM "$app_pid"; finish
# With the panel shown the drive box has the focus, and F4 opens it.
sed -i 's/^"Show Controls"=.*/"Show Controls"="false"/' "$hive"

# No bus here: the X server's suspension works alone. Stopped by F5, then ended
# by Escape with a slideshow running.
private_bus=$DBUS_SESSION_BUS_ADDRESS
export DBUS_SESSION_BUS_ADDRESS=unix:path=$e2e_tmp/no-bus
wake
start_app viewer.log
xdotool key F4
stays_off "a slideshow"
xdotool key F5
wait_until saver_on || fail "the X screensaver did not start after the slideshow stopped"
kill -TERM "$app_pid"; finish
wake
start_app viewer2.log
xdotool key F4
stays_off "the second slideshow"
xdotool key Escape; sleep 0.2
xdotool key Escape
finish
wait_until saver_on || fail "the X screensaver did not start after the program ended"
for log in viewer viewer2; do
  [ -s "$e2e_tmp/$log.log" ] && fail "$log printed: $(cat "$e2e_tmp/$log.log")"
done
export DBUS_SESSION_BUS_ADDRESS=$private_bus

# The screensaver run, with a desktop service answering too: both hold, both are
# given back at SIGTERM.
calls="$e2e_tmp/calls.log"
"$stub" "$calls" screensaver &
stub_pid=$!
trap 'kill "$stub_pid" 2>/dev/null; cleanup' EXIT
wait_until grep -qs ready "$calls" || fail "the stand-in service did not start"
start_app saver.log /s
stays_off "the screensaver run"
grep -q "^screensaver Inhibit" "$calls" || fail "the desktop service was not asked: $(cat "$calls")"
kill -TERM "$app_pid"; finish
wait_until saver_on || fail "the X screensaver did not start after SIGTERM"
grep -q "^screensaver UnInhibit" "$calls" || fail "the desktop service's hold was kept: $(cat "$calls")"

# Drawing for a screensaver daemon: the server's screensaver comes on as usual.
start_app root.log -root
wait_until saver_on || fail "the display mode held off the X screensaver"
kill -TERM "$app_pid"; finish
echo "end-to-end screen blanking: ok"
