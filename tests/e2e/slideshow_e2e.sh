#!/usr/bin/env bash
# A one-second slideshow over three pictures on a real X screen, then the
# screensaver run mode ended by a jump of the mouse.
binary=$1
source "$(dirname "$0")/lib.sh"
start_x

pictures="$e2e_tmp/pictures"
colour_pictures "$pictures" 800x600
hive="$XDG_CONFIG_HOME/tavlin/registry/HKEY_CURRENT_USER.reg"

# The colour at the centre; one pixel read alone, as a whole-screen shot can outlast a slide.
# The black screen and anything else but the three pictures read as "other".
colour_at_centre() {
  local c
  c=$(colour_name "$(screen_pixel 400 384)")
  case $c in red | green | blue) echo "$c" ;; *) echo other ;; esac
}

# A first run records the settings; Escape with the drive list focused ends it.
start_app app1.log "$pictures"
xdotool key Escape
wait_exit || fail "Escape did not end the program"
[ -s "$hive" ] || fail "no settings were saved at exit"

# One second per picture, no loop, the panel hidden so the window gets the keys.
sed -i -e 's/^"Loop Seconds"=.*/"Loop Seconds"="1"/' \
       -e 's/^"Loop Slideshow"=.*/"Loop Slideshow"="false"/' \
       -e 's/^"Show Controls"=.*/"Show Controls"="false"/' "$hive"
start_app app2.log
[ "$(colour_at_centre)" = other ] || fail "a picture shows before any was chosen"
xdotool key F4
seen="" samples=0
for _ in $(seq 75); do
  sleep 0.1
  c=$(colour_at_centre)
  # The screen can stay empty a moment after F4: count from the first picture on.
  if [ -z "$seen" ] && [ "$c" = other ]; then continue; fi
  case "$seen" in *"$c") ;; *) seen="$seen $c" ;; esac
  samples=$((samples + 1))
  if [ "$samples" -ge 25 ]; then break; fi
done
# F4's key-down already selects the first picture (nothing was selected); the
# first tick shows the second, the second tick the third, and the third stops
# the show, which then stays on the third.
[ "$seen" = " red green blue" ] || fail "slideshow went: $seen"
sleep 1.5
[ "$(colour_at_centre)" = blue ] || fail "the slideshow did not stop at the end"
xdotool key Escape
wait_exit || fail "Escape did not end the program after the slideshow"

# The screensaver: no panel, a random picture over the whole width, ended by
# a jump of the mouse, and nothing saved.
before=$(md5sum "$hive")
start_app app3.log /s
sleep 0.5
shot "$e2e_tmp/saver.png"
case "$(colour_name "$(pixel "$e2e_tmp/saver.png" 1000 384)")" in red | green | blue) ;; *) false ;; esac \
  || fail "the screensaver does not fill the width: $(pixel "$e2e_tmp/saver.png" 1000 384)"
xdotool key Escape
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "a key ended the screensaver"
xdotool mousemove 100 100
sleep 0.3
xdotool mousemove 110 105
sleep 0.3
kill -0 "$app_pid" 2>/dev/null || fail "a small mouse movement ended the screensaver"
xdotool mousemove 600 500
wait_exit || fail "a jump of the mouse did not end the screensaver"
[ "$(md5sum "$hive")" = "$before" ] || fail "the screensaver changed the settings"
echo "end-to-end slideshow and screensaver: ok"
