#!/usr/bin/env bash
# The screensaver hides the X pointer from start to end, also after the window is
# re-created by start-up and after small mouse moves; the viewer never hides it.
binary=$1
source "$(dirname "$0")/lib.sh"
cursorimage=${TAVLIN_CURSORIMAGE:-}
[ -n "$cursorimage" ] && [ -x "$cursorimage" ] \
  || skip "the pointer reader was not built (libXfixes is missing)"
start_x

pictures="$e2e_tmp/pictures"
mkdir -p "$pictures"
convert -size 320x240 xc:'#ff0000' "$pictures/1_red.jpg"
convert -size 320x240 xc:'#0000ff' "$pictures/2_blue.jpg"

# Opaque pixels of the pointer image; 0 means blank.
opaque() { "$cursorimage"; }

# A first run records the folder; the viewer keeps the pointer.
xdotool mousemove 200 200
start_app viewer.log "$pictures"
xdotool mousemove 210 205
sleep 0.3
[ "$(opaque)" -gt 0 ] || fail "the viewer hid the pointer"
xdotool key Escape
wait_exit || fail "Escape did not end the viewer"

# The screensaver: blank from the first frame on, through small moves.
start_app saver.log /s
[ "$(opaque)" -eq 0 ] || fail "the pointer shows over the screensaver: $(opaque) opaque pixels"
for step in 1 2 3; do
  xdotool mousemove $((200 + step * 5)) $((200 + step * 3))
  sleep 0.2
  [ "$(opaque)" -eq 0 ] || fail "the pointer shows after a small move: $(opaque) opaque pixels"
done
kill -0 "$app_pid" 2>/dev/null || fail "small moves ended the screensaver"
shot "$e2e_tmp/saver.png"
xdotool mousemove 700 600
wait_exit || fail "a jump of the mouse did not end the screensaver"
echo "end-to-end pointer: ok"
