#!/usr/bin/env bash
# The xscreensaver display mode on a real X screen: the program draws random
# pictures inside a window another program owns ("-window-id", and "-root" with
# XSCREENSAVER_WINDOW), ignores the mouse, ends on SIGTERM and when the
# window goes away, and leaves the settings file as it was.
binary=$1
source "$(dirname "$0")/lib.sh"
command -v xlogo >/dev/null || skip "xlogo (x11-apps) is not installed"
start_x

pictures="$e2e_tmp/pictures"
colour_pictures "$pictures" 320x240
hive="$XDG_CONFIG_HOME/tavlin/registry/HKEY_CURRENT_USER.reg"

# Settings as a user leaves them: this folder, one second per picture.
start_app first.log "$pictures"
kill -TERM "$app_pid"
wait_exit || fail "SIGTERM did not end the viewer"
[ "$app_status" -eq 0 ] || fail "the viewer failed on SIGTERM (exit $app_status)"
sed -i 's/^"Loop Seconds"=.*/"Loop Seconds"="1"/' "$hive"
before=$(md5sum <"$hive")

host_pid=""
shot "$e2e_tmp/empty.png"
background=$(pixel "$e2e_tmp/empty.png" 600 500)
# A window of another program, 320 x 240 at (10, 10), in $host.
make_host() {
  xlogo -geometry 320x240+10+10 >/dev/null 2>&1 &
  host_pid=$!
  host=$(wait_window xlogo) || fail "no host window"
}

# The colours seen at the window's centre over about six seconds.
colours_seen() {
  local seen=""
  for _ in $(seq 12); do
    c=$(colour_name "$(screen_pixel 170 130)")
    case " $seen " in *" $c "*) ;; *) seen="$seen $c" ;; esac
    sleep 0.5
  done
  echo "$seen"
}

check_run() { # what, then the command after the binary
  local what=$1
  sleep 1.5
  kill -0 "$app_pid" 2>/dev/null || fail "$what: the program ended by itself: $(cat "$e2e_tmp/app.log")"
  # The daemon owns input: mouse jumps over the window end nothing.
  xdotool mousemove 20 20 sleep 0.2 mousemove 300 200 sleep 0.2 mousemove 30 220
  seen=$(colours_seen)
  n=$(wc -w <<<"$seen")
  case "$seen" in *other*) fail "$what: something else than a picture at the centre:$seen" ;; esac
  [ "$n" -ge 2 ] || fail "$what: the pictures did not change:$seen"
  shot "$e2e_tmp/$what.png"
  # Outside the host window the screen is as it was: nothing covers the screen.
  [ "$(pixel "$e2e_tmp/$what.png" 600 500)" = "$background" ] || fail "$what: drew outside the window"
}

# -window-id: pictures change inside the window; SIGTERM ends it.
make_host
"$binary" -window-id "$host" >"$e2e_tmp/app.log" 2>&1 &
app_pid=$!
check_run window-id
kill -TERM "$app_pid"
wait_exit || fail "SIGTERM did not end the program"
[ "$app_status" -eq 0 ] || fail "the program failed on SIGTERM (exit $app_status): $(cat "$e2e_tmp/app.log")"
kill "$host_pid"; wait "$host_pid" 2>/dev/null || true

# -root with XSCREENSAVER_WINDOW: the same; the window going away ends it.
make_host
XSCREENSAVER_WINDOW=$host "$binary" -root >"$e2e_tmp/app.log" 2>&1 &
app_pid=$!
check_run root
kill "$host_pid"; wait "$host_pid" 2>/dev/null || true
wait_exit || fail "the program outlived its window"
[ "$app_status" -eq 0 ] || fail "the program failed when its window went away (exit $app_status): $(cat "$e2e_tmp/app.log")"

# -root without XSCREENSAVER_WINDOW covers the whole screen, without a warning about the
# focus it does not take; with no settings yet it leaves none behind, as it saves nothing.
mkdir -p "$e2e_tmp/fresh"
XDG_CONFIG_HOME="$e2e_tmp/fresh" start_app app.log -root -folder "$pictures"
sleep 1
shot "$e2e_tmp/whole.png"
case "$(colour_name "$(pixel "$e2e_tmp/whole.png" 512 384)")" in
  red|green|blue) ;; *) fail "-root alone does not show a picture over the screen" ;;
esac
kill -TERM "$app_pid"
wait_exit || fail "SIGTERM did not end -root alone"
[ "$app_status" -eq 0 ] || fail "-root alone failed on SIGTERM (exit $app_status)"
! grep -q "requestActivate" "$e2e_tmp/app.log" || fail "-root alone warned: $(cat "$e2e_tmp/app.log")"
[ -z "$(find "$e2e_tmp/fresh" -type f)" ] || fail "-root alone wrote settings: $(find "$e2e_tmp/fresh" -type f)"

# A window that is not there: one line, exit 1.
"$binary" -window-id 0x7ffffff >"$e2e_tmp/none.log" 2>&1 && fail "a missing window was accepted"
grep -q "no window" "$e2e_tmp/none.log" || fail "no word about the missing window: $(cat "$e2e_tmp/none.log")"

[ "$(md5sum <"$hive")" = "$before" ] || fail "the settings file changed"
echo "end-to-end xscreensaver: ok"
