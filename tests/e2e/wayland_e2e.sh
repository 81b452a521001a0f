#!/usr/bin/env bash
# Tavlin as a native Wayland client of weston: the viewer shows pictures and takes keys, and
# the screensaver hides the pointer and ends on a jump of the mouse (weston drawn into an X
# window on Xvfb, so keys and the mouse can be sent and the screen read); the screensaver
# runs under weston's headless backend; -root and -window-id, which need X, say so.
binary=$1
source "$(dirname "$0")/lib.sh"
command -v weston >/dev/null || skip "weston is not installed"
[ -n "$(find /usr/lib -path '*qt6/plugins/platforms/libqwayland-generic.so' 2>/dev/null)" ] \
  || skip "the Qt Wayland platform plugin (qt6-wayland) is not installed"
start_x

pictures="$e2e_tmp/pictures"
colour_pictures "$pictures" 800x600
weston_pids=()
stop_weston() { for pid in "${weston_pids[@]}"; do kill "$pid" 2>/dev/null || true; done; cleanup; }
trap stop_weston EXIT

start_weston() { # socket, then weston's options
  local socket=$1; shift
  weston --socket="$socket" --idle-time=0 "$@" >"$e2e_tmp/weston-$socket.log" 2>&1 &
  weston_pids+=($!)
  wait_until test -S "$XDG_RUNTIME_DIR/$socket" \
    || fail "weston did not start: $(cat "$e2e_tmp/weston-$socket.log")"
}

# In a Wayland session: no X display for the program, so Wayland alone can serve it.
wayland() { # socket, log, then the program's arguments
  local socket=$1 log=$2; shift 2
  env -u DISPLAY WAYLAND_DISPLAY="$socket" XDG_SESSION_TYPE=wayland \
    "$binary" "$@" >"$e2e_tmp/$log" 2>&1 &
  app_pid=$!
}

# weston's output is a 1024 x 768 window at the top left of the X screen.
start_weston tavlin-x11 --backend=x11-backend.so --width=1024 --height=768
weston_window=$(xdotool search --class weston | head -n1)
[ -n "$weston_window" ] || fail "no weston window"
wayland tavlin-x11 viewer.log "$pictures"
# The panel's file list is white; F11 then shows the first picture and hides the panel.
wait_colour 1000 384 white \
  || fail "the viewer shows no window under Wayland: $(cat "$e2e_tmp/viewer.log")"
# weston gives the new window the keyboard once it has faded it in.
sleep 2
xdotool windowfocus "$weston_window"
sleep 0.5
xdotool key F11
wait_colour 1000 384 red || fail "F11 did not hide the panel under Wayland"
xdotool key Right
wait_colour 400 384 green || fail "Right did not show the next picture under Wayland"
xdotool key Escape
wait_exit || fail "Escape did not end the viewer under Wayland"
[ "$app_status" -eq 0 ] || fail "the viewer failed under Wayland (exit $app_status): $(cat "$e2e_tmp/viewer.log")"

# The screensaver over the folder just left: no pointer over the pictures, and a jump of the
# mouse ends it.
xdotool mousemove 500 400
wayland tavlin-x11 saver.log /s
saver_shows() { screen_is 512 384 red || screen_is 512 384 green || screen_is 512 384 blue; }
wait_until saver_shows || wait_until saver_shows || wait_until saver_shows \
  || fail "the screensaver shows no picture under Wayland: $(cat "$e2e_tmp/saver.log")"
sleep 1
xdotool mousemove 505 402
# weston draws its own pointer until the client's hidden one reaches it, which takes longer
# on a busy machine: the pointer must be gone within a few seconds.
no_pointer() {
  shot "$e2e_tmp/saver.png"
  [ "$(convert "$e2e_tmp/saver.png" -crop 1024x768+0+0 +repage \
    -fx '(r>0.9&&g>0.9&&b>0.9)?1:0' -format '%[fx:maxima]' info:)" = 0 ]
}
sleep 0.5
for _ in 1 2 3 4 5 6; do no_pointer && break; sleep 0.5; done
no_pointer || fail "the pointer shows over the screensaver under Wayland"
kill -0 "$app_pid" || fail "a small move ended the screensaver"
xdotool mousemove 900 700
if ! wait_exit 30; then
  # weston does not always hand the moves above to a surface it has just shown (the program
  # then sees this jump as the first position it knows): from here a jump must end it.
  xdotool mousemove 200 150
  wait_exit || fail "a jump of the mouse did not end the screensaver under Wayland"
fi

# The headless backend: the screensaver runs and ends on SIGTERM; -root says it needs X.
start_weston tavlin-headless --backend=headless-backend.so --width=800 --height=600
wayland tavlin-headless headless.log /s
sleep 2
kill -0 "$app_pid" 2>/dev/null || fail "the screensaver ended by itself under headless weston: $(cat "$e2e_tmp/headless.log")"
kill -TERM "$app_pid"
wait_exit || fail "SIGTERM did not end the screensaver under headless weston"
[ "$app_status" -eq 0 ] || fail "the screensaver failed under headless weston (exit $app_status)"
status=0
env -u DISPLAY WAYLAND_DISPLAY=tavlin-headless "$binary" -root >"$e2e_tmp/root.log" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "-root without X exited $status"
[ "$(wc -l <"$e2e_tmp/root.log")" -eq 1 ] && grep -q "X display" "$e2e_tmp/root.log" \
  || fail "-root without X did not say why in one line: $(cat "$e2e_tmp/root.log")"
echo "end-to-end Wayland: ok"
