#!/usr/bin/env bash
# The menu's keys right after start, while a widget of the settings panel has the
# focus, and seconds typed into the panel's box, on a real X screen.
binary=$1
source "$(dirname "$0")/lib.sh"
start_x

pictures="$e2e_tmp/pictures"
colour_pictures "$pictures" 800x600
hive="$XDG_CONFIG_HOME/tavlin/registry/HKEY_CURRENT_USER.reg"

# A first start shows the panel with one of its widgets focused. F9 at once shows the
# first picture (nothing was selected) and hides the panel: the picture then fills the
# whole width, where the panel stood.
start_app app.log "$pictures"
xdotool key F9
# The first picture is decoded after the key: on a busy machine that takes a while.
wait_long() { for _ in 1 2 3 4; do wait_until "$@" && return 0; done; return 1; }
# Read afresh on every try of the wait.
right_side_is() { [ "$(colour_name "$(screen_pixel 1000 384)")" = "$1" ]; }
right_side_is_not() { ! right_side_is "$1"; }
wait_long right_side_is red \
  || fail "F9 right after start did not hide the panel: $(screen_pixel 1000 384)"
xdotool key F9
wait_until right_side_is_not red \
  || fail "F9 did not show the panel again"

# F12 opens About; a click closes it.
xdotool key F12
wait_window "About Viewer" 50 >/dev/null || fail "F12 did not open About"
xdotool mousemove 512 384 click 1
wait_until sh -c '[ -z "$(xdotool search --onlyvisible --name "^About Viewer\$" 2>/dev/null)" ]' \
  || fail "About did not close on a click"

# Seconds typed into the box take effect at once: one second per picture after F4.
# The box sits over the middle of the seconds arrows, 1800 and 210 twips into the
# options frame (which starts 833 and 487 pixels in).
xdotool mousemove 970 511 click --repeat 3 --delay 80 1
xdotool key ctrl+a type 1
xdotool key F4
seen=""
for _ in $(seq 25); do
  sleep 0.1
  seen=$(colour_name "$(screen_pixel 400 384)")
  [ "$seen" = green ] && break
done
[ "$seen" = green ] || fail "the slideshow did not move on after the typed second (still $seen)"
xdotool key F5 Escape
wait_exit || fail "Escape in the seconds box did not end the program"
grep -qF '"Loop Seconds"="1"' "$hive" || fail "the typed seconds were not saved: $(grep 'Loop Seconds' "$hive")"
echo "end-to-end shortcuts and typed seconds: ok"
