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

# The picture at the centre: red, blue, or the pixel read there.
centre() {
  local p
  p=$(screen_pixel 400 384)
  case "$p" in 25[45],0,0) echo red ;; 0,0,25[45]) echo blue ;; *) echo "$p" ;; esac
}
# Whether the centre shows one of these.
centre_in() {
  local c want
  c=$(centre)
  for want; do [ "$c" = "$want" ] && return 0; done
  return 1
}

# The first entry of the file list (see viewer_e2e.sh for the position).
xdotool mousemove 900 290 click 1
wait_until centre_in red blue || fail "neither picture is shown: $(centre)"
case "$(centre)" in
  red) shown="$stray" other="$lookalike" left=blue ;;
  blue) shown="$lookalike" other="$stray" left=red ;;
  *) fail "neither picture is shown: $(centre)" ;;
esac

xdotool key Delete
wait_until [ ! -e "$shown" ] || fail "Delete left the picture on screen in place"
[ -e "$other" ] || fail "Delete removed the other file, whose name only looks alike"
if ! wait_until centre_in "$left"; then
  centre_in red blue && fail "the deleted picture is still shown"
  fail "the remaining picture is not shown: $(centre)"
fi

xdotool key Delete
wait_until [ ! -e "$other" ] || fail "the second Delete did not remove the remaining file"
[ -z "$(ls -A "$pictures")" ] || fail "files are left: $(ls -A "$pictures" | od -c | head -3)"

xdotool key Escape
wait_exit || fail "Escape did not end the program"
[ "$app_status" -eq 0 ] || fail "the program ended with an error (exit $app_status)"
echo "PASS"
