#!/usr/bin/env bash
# The screen is kept awake while a slideshow runs: on a private session bus a
# stand-in org.freedesktop.ScreenSaver service records the calls. Inhibit when
# a slideshow starts, one release when it stops, none left at exit (by Escape
# or SIGTERM); without the service, or without a bus, nothing is printed.
binary=$1
if [ -z "${TAVLIN_ON_PRIVATE_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session (package dbus) is not installed"; exit 77; }
  TAVLIN_ON_PRIVATE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
stub=${TAVLIN_SCREENSAVER_STUB:-}
[ -x "$stub" ] || skip "the stand-in screensaver service was not built"
start_x

pictures="$e2e_tmp/pictures"
mkdir -p "$pictures"
convert -size 200x100 xc:'#ff0000' "$pictures/1_red.jpg"
convert -size 200x100 xc:'#0000ff' "$pictures/2_blue.jpg"
hive="$XDG_CONFIG_HOME/tavlin/registry/HKEY_CURRENT_USER.reg"
calls="$e2e_tmp/calls.log"

finish() {
  wait_exit || fail "the program did not end"
  [ "$app_status" -eq 0 ] || fail "the program ended with an error (exit $app_status)"
}
calls() { grep -v '^ready$' "$calls" | sed 's/ Tavlin Slideshow$//' | tr '\n' ' '; }
calls_are() { [ "$(calls)" = "$1" ]; }

# Without the service nothing is printed, on the bus and with no bus at all.
start_app quiet1.log "$pictures"
kill -TERM "$app_pid"; finish
sed -i 's/^"Show Controls"=.*/"Show Controls"="false"/; s/^"Loop Seconds"=.*/"Loop Seconds"="1"/' "$hive"
start_app quiet2.log /s
kill -TERM "$app_pid"; finish
DBUS_SESSION_BUS_ADDRESS=unix:path=$e2e_tmp/no-bus start_app quiet3.log /s
kill -TERM "$app_pid"; finish
for log in quiet1 quiet2 quiet3; do
  [ -s "$e2e_tmp/$log.log" ] && fail "$log printed: $(cat "$e2e_tmp/$log.log")"
done

# The stand-in service ends with the test, also when a check fails: it holds the output open.
stub_pid=""
trap '[ -z "$stub_pid" ] || kill "$stub_pid" 2>/dev/null; cleanup' EXIT
"$stub" "$calls" &
stub_pid=$!
wait_until grep -qs ready "$calls" || fail "the stand-in service did not start"

# The viewer: F4 starts, F5 stops, F4 again, then Escape with it running.
start_app viewer.log
[ -z "$(calls)" ] || fail "the viewer inhibited before any slideshow: $(calls)"
xdotool key F4
wait_until calls_are "Inhibit 41 " || fail "starting the slideshow: $(calls)"
xdotool key F5
wait_until calls_are "Inhibit 41 UnInhibit 41 " || fail "stopping the slideshow: $(calls)"
xdotool key F4
wait_until calls_are "Inhibit 41 UnInhibit 41 Inhibit 42 " || fail "starting it again: $(calls)"
xdotool key Escape; sleep 0.2
xdotool key Escape
finish
[ "$(calls)" = "Inhibit 41 UnInhibit 41 Inhibit 42 UnInhibit 42 " ] || fail "exit with a slideshow running: $(calls)"

# The screensaver run holds from the start and gives it back on SIGTERM.
: >"$calls"
start_app saver.log /s
wait_until calls_are "Inhibit 43 " || fail "the screensaver run: $(calls)"
kill -TERM "$app_pid"; finish
[ "$(calls)" = "Inhibit 43 UnInhibit 43 " ] || fail "SIGTERM left the screen held: $(calls)"
kill "$stub_pid"; stub_pid=""
echo "end-to-end screen awake: ok"
