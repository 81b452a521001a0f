#!/usr/bin/env bash
# File names that are not UTF-8: a picture named with a stray byte beside one whose
# name is the UTF-8 of the replacement character. The picture shown is the file
# deleted, and each Delete removes the file listed, never its look-alike.
binary=$1
source "$(dirname "$0")/lib.sh"
start_x

pictures="$e2e_tmp/pictures"
mkdir -p "$pictures"
stray="$pictures/a"$'\xff'".jpg"
lookalike="$pictures/a"$'\xef\xbf\xbd'".jpg"
convert -size 800x600 xc:'#ff0000' "$stray"
convert -size 800x600 xc:'#0000ff' "$lookalike"

start_app app.log "$pictures"

# The first entry of the file list (see viewer_e2e.sh for the position).
xdotool mousemove 900 290 click 1
sleep 1
shot "$e2e_tmp/first.png"
case "$(pixel "$e2e_tmp/first.png" 400 384)" in
  25[45],0,0) shown="$stray" other="$lookalike" ;;
  0,0,25[45]) shown="$lookalike" other="$stray" ;;
  *) fail "neither picture is shown: $(pixel "$e2e_tmp/first.png" 400 384)" ;;
esac

xdotool key Delete
sleep 1
[ -e "$shown" ] && fail "Delete left the picture on screen in place"
[ -e "$other" ] || fail "Delete removed the other file, whose name only looks alike"
shot "$e2e_tmp/second.png"
case "$(pixel "$e2e_tmp/second.png" 400 384)" in
  25[45],0,0) [ "$other" = "$stray" ] || fail "the deleted picture is still shown" ;;
  0,0,25[45]) [ "$other" = "$lookalike" ] || fail "the deleted picture is still shown" ;;
  *) fail "the remaining picture is not shown: $(pixel "$e2e_tmp/second.png" 400 384)" ;;
esac

xdotool key Delete
sleep 1
[ -e "$other" ] && fail "the second Delete did not remove the remaining file"
[ -z "$(ls -A "$pictures")" ] || fail "files are left: $(ls -A "$pictures" | od -c | head -3)"

xdotool key Escape
wait_exit || fail "Escape did not end the program"
[ "$app_status" -eq 0 ] || fail "the program ended with an error (exit $app_status)"
echo "PASS"
