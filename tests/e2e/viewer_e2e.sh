#!/usr/bin/env bash
# Starts the real program on a folder of pictures on a 1024 x 768 X screen,
# selects a picture with the mouse and reads the screen back.
binary=$1
source "$(dirname "$0")/lib.sh"
start_x

pictures="$e2e_tmp/pictures"
mkdir -p "$pictures"
convert -size 800x600 xc:'#ff0000' "$pictures/a_red.jpg"
convert -size 800x600 xc:'#0000ff' "$pictures/b_blue.jpg"

start_app app.log "$pictures"

# The file list starts 4210 twips (281 pixels) down the panel, which stands at
# 12435 twips (829 pixels): its first entry is a_red.jpg.
xdotool mousemove 900 290 click 1
sleep 1
shot "$e2e_tmp/red.png"
[ "$(pixel "$e2e_tmp/red.png" 400 384)" = "254,0,0" ] || [ "$(pixel "$e2e_tmp/red.png" 400 384)" = "255,0,0" ] \
  || fail "the red picture is not shown left of the panel: $(pixel "$e2e_tmp/red.png" 400 384)"
case "$(pixel "$e2e_tmp/red.png" 1000 700)" in 25[45],0,0) fail "the picture covers the panel" ;; esac
green=$(convert "$e2e_tmp/red.png" -crop 300x90+0+678 +repage txt:- | grep -ciE '#00FF00|#00FE00' || true)
[ "$green" -gt 20 ] || fail "no green information lines at the bottom left ($green green pixels)"
green=$(convert "$e2e_tmp/red.png" -crop 400x24+0+0 +repage txt:- | grep -ciE '#00FF00|#00FE00' || true)
[ "$green" -gt 20 ] || fail "no green file name at the top left"

# Down in the focused file list moves to the next picture.
xdotool key Down
sleep 1
shot "$e2e_tmp/blue.png"
case "$(pixel "$e2e_tmp/blue.png" 400 384)" in 0,0,25[45]) ;; *) fail "Down did not show the blue picture: $(pixel "$e2e_tmp/blue.png" 400 384)" ;; esac

# The exit button (1560, 3720 twips into the options frame, which starts at
# 7320 twips) ends the program.
xdotool mousemove 970 745 click 1
wait_exit || fail "the exit button did not end the program"
[ "$app_status" -eq 0 ] || fail "the program ended with an error (exit $app_status)"

# SIGTERM (a log-out, kill) leaves through the normal exit: the settings are saved.
hive="$XDG_CONFIG_HOME/tavlin/registry/HKEY_CURRENT_USER.reg"
rm -f "$hive"
mkdir -p "$pictures/sub"
start_app app2.log "$pictures/sub"
kill -TERM "$app_pid"
wait_exit || fail "SIGTERM did not end the program"
[ "$app_status" -eq 0 ] || fail "the program ended with an error on SIGTERM (exit $app_status)"
grep -qF "\"Last Directory\"=\"$pictures/sub\"" "$hive" || fail "SIGTERM did not save the settings"

# "/P" ends at once, without a window.
start=$(date +%s)
timeout 20 "$binary" /P >"$e2e_tmp/preview.log" 2>&1 || fail "/P did not end cleanly"
[ -z "$(xdotool search --name '^Tavlin 2.0$' 2>/dev/null || true)" ] || fail "/P left a window"
echo "end-to-end viewer: ok ($(( $(date +%s) - start )) s for /P)"
