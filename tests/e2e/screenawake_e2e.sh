#!/usr/bin/env bash
# The screen is kept awake while a slideshow runs, through the first desktop
# service on the session bus that answers: org.freedesktop.ScreenSaver, then the
# desktop portal's Inhibit, then the GNOME session manager. On a private session
# bus stand-ins for the three record the calls: a hold when a slideshow starts,
# one release when it stops, none left at exit (by Escape or SIGTERM); a service
# that refuses or hangs passes the ask on, one that is not there is not asked;
# without any service, or without a bus, nothing is printed. A display-mode run
# (-root) leaves the screen to the screensaver daemon that started it.
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
# The calls so far, one "; "-ended entry each.
calls() { grep -v '^ready$' "$calls" | sed 's/$/; /' | tr -d '\n'; }
calls_are() { [ "$(calls)" = "$1" ]; }
expect_calls() { # calls, what was done
  wait_until calls_are "$1" || fail "$2: $(calls) (wanted: $1)"
}

# Without a service nothing is printed, on the bus and with no bus at all.
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

# The stand-ins end with the test, also when a check fails: they hold the output open.
stub_pid=""
trap '[ -z "$stub_pid" ] || kill "$stub_pid" 2>/dev/null; cleanup' EXIT
start_stub() { # the services the stand-in offers
  stop_stub
  : >"$calls"
  "$stub" "$calls" "$@" &
  stub_pid=$!
  wait_until grep -qs ready "$calls" || fail "the stand-in services did not start: $*"
}
stop_stub() {
  [ -z "$stub_pid" ] && return 0
  kill "$stub_pid"; wait "$stub_pid" 2>/dev/null || true
  stub_pid=""
}

# org.freedesktop.ScreenSaver, first of the three; the others are never asked.
# The viewer: F4 starts, F5 stops, F4 again, then Escape with it running.
start_stub screensaver portal session
start_app viewer.log
[ -z "$(calls)" ] || fail "the viewer inhibited before any slideshow: $(calls)"
xdotool key F4
expect_calls "screensaver Inhibit 41 Tavlin Slideshow; " "starting the slideshow"
xdotool key F5
expect_calls "screensaver Inhibit 41 Tavlin Slideshow; screensaver UnInhibit 41; " \
  "stopping the slideshow"
xdotool key F4
expect_calls "screensaver Inhibit 41 Tavlin Slideshow; screensaver UnInhibit 41; screensaver Inhibit 42 Tavlin Slideshow; " \
  "starting it again"
xdotool key Escape; sleep 0.2
xdotool key Escape
finish
calls_are "screensaver Inhibit 41 Tavlin Slideshow; screensaver UnInhibit 41; screensaver Inhibit 42 Tavlin Slideshow; screensaver UnInhibit 42; " \
  || fail "exit with a slideshow running: $(calls)"

# The screensaver run holds from the start and gives it back on SIGTERM.
: >"$calls"
start_app saver.log /s
expect_calls "screensaver Inhibit 43 Tavlin Slideshow; " "the screensaver run"
kill -TERM "$app_pid"; finish
calls_are "screensaver Inhibit 43 Tavlin Slideshow; screensaver UnInhibit 43; " \
  || fail "SIGTERM left the screen held: $(calls)"

# Drawing for a screensaver daemon holds nothing: the daemon blanks the screen after it.
: >"$calls"
start_app root.log -root
sleep 1.5
kill -TERM "$app_pid"; finish
[ -z "$(calls)" ] || fail "the display mode held the screen: $(calls)"

# The portal, where org.freedesktop.ScreenSaver refuses: its request object is closed
# when the slideshow stops, and at SIGTERM.
start_stub screensaver:refuse portal session
start_app portal.log "$pictures"
xdotool key F4
expect_calls "screensaver Inhibit refused; portal Inhibit 41 '' 8 Slideshow; " "the portal's hold"
xdotool key F5
expect_calls "screensaver Inhibit refused; portal Inhibit 41 '' 8 Slideshow; portal Close 41; " \
  "the portal's release"
kill -TERM "$app_pid"; finish
: >"$calls"
start_app portal-saver.log /s
expect_calls "screensaver Inhibit refused; portal Inhibit 42 '' 8 Slideshow; " \
  "the portal in the screensaver run"
kill -TERM "$app_pid"; finish
calls_are "screensaver Inhibit refused; portal Inhibit 42 '' 8 Slideshow; portal Close 42; " \
  || fail "SIGTERM left the portal's hold: $(calls)"

# The GNOME session manager, where the first hangs (given up after a second) and
# the portal refuses.
start_stub screensaver:hang portal:refuse session
start_app session.log "$pictures"
xdotool key F4
expect_calls "screensaver Inhibit unanswered; portal Inhibit refused; session Inhibit 41 io.github.tavlin.Tavlin 0 Slideshow 8; " \
  "the session manager's hold"
xdotool key F5
expect_calls "screensaver Inhibit unanswered; portal Inhibit refused; session Inhibit 41 io.github.tavlin.Tavlin 0 Slideshow 8; session Uninhibit 41; " \
  "the session manager's release"
xdotool key Escape; sleep 0.2
xdotool key Escape
finish

# A service with no owner on the bus is passed over without being called: the
# portal holds where org.freedesktop.ScreenSaver is not there, the session manager
# where neither is.
for case in "portal session|portal Inhibit 41 '' 8 Slideshow; |portal Close 41; " \
            "session|session Inhibit 41 io.github.tavlin.Tavlin 0 Slideshow 8; |session Uninhibit 41; "; do
  IFS='|' read -r services hold give_back <<<"$case"
  read -ra names <<<"$services"
  start_stub "${names[@]}"
  start_app "absent-${names[0]}.log" /s
  expect_calls "$hold" "the screensaver run with only: $services"
  kill -TERM "$app_pid"; finish
  calls_are "$hold$give_back" || fail "SIGTERM with only $services: $(calls)"
done
stop_stub
echo "end-to-end screen awake: ok"
