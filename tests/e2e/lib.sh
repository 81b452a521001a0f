# Shared helpers for the end-to-end tests: a private X server, a private
# settings folder and screen reads. Sourced by the *_e2e.sh scripts.
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }

for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

e2e_tmp=$(mktemp -d)
xvfb_pid=""
app_pid=""
app_status=0
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$e2e_tmp"
}
trap cleanup EXIT

# Starts Xvfb with a 1024 x 768 screen on a free display number.
start_x() {
  exec 3<> "$e2e_tmp/displayfd"
  # -noreset: with no client left the server resets, and a client connecting during the
  # reset (the program right after a short xdotool call) is refused.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$e2e_tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if [ -s "$e2e_tmp/displayfd" ]; then break; fi
    sleep 0.1
  done
  DISPLAY=":$(head -n1 "$e2e_tmp/displayfd" | tr -dc 0-9)"
  export DISPLAY
  export XDG_CONFIG_HOME="$e2e_tmp/config" XDG_RUNTIME_DIR="$e2e_tmp/run" HOME="$e2e_tmp/home"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset QT_QPA_PLATFORM
}

# Waits for a visible window with this title, up to TENTHS tenths of a second (15 s); prints its id.
wait_window() { # title [tenths]
  local id
  for _ in $(seq "${2:-150}"); do
    if id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1) && [ -n "$id" ]; then
      echo "$id"; return 0
    fi
    sleep 0.1
  done
  echo "no window titled '$1' appeared" >&2
  return 1
}

# Starts $binary with these arguments, output in $e2e_tmp/LOG; sets app_pid and waits for the window.
start_app() { # log, then the program's arguments
  local log=$1; shift
  "$binary" "$@" >"$e2e_tmp/$log" 2>&1 &
  app_pid=$!
  # A first start on a busy machine can be slow.
  wait_window "Tavlin 2.0" 300 >/dev/null || fail "no window appeared for tavlin $*: $(cat "$e2e_tmp/$log")"
  sleep 0.5
}

# Waits TENTHS tenths (5 s) for the program to end, else returns 1; its exit code goes to app_status.
wait_exit() { # [tenths]
  for _ in $(seq "${1:-50}"); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && return 1
  app_status=0
  wait "$app_pid" || app_status=$?
  app_pid=""
}

# Runs the command every 0.1 s until it succeeds, for up to 5 s; returns 1 if it never does.
wait_until() {
  for _ in $(seq 50); do "$@" && return 0; sleep 0.1; done
  return 1
}

shot() { import -window root "$1"; }

# The colour of one pixel as "r,g,b".
pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}

# The colour of one pixel of the screen as "r,g,b", read alone: quicker than a whole shot.
screen_pixel() {
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- \
    | sed -n 's/^0,0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

# Makes FOLDER with three plain pictures of SIZE: 1_red.jpg, 2_green.jpg and 3_blue.jpg.
colour_pictures() { # folder size
  mkdir -p "$1"
  convert -size "$2" xc:'#ff0000' "$1/1_red.jpg"
  convert -size "$2" xc:'#00ff00' "$1/2_green.jpg"
  convert -size "$2" xc:'#0000ff' "$1/3_blue.jpg"
}

# Names a pixel's colour; JPEG may shift a pure colour by a step or two.
colour_name() {
  local r g b
  IFS=, read -r r g b <<<"$1"
  if [ "$r" -gt 200 ] && [ "$g" -lt 50 ] && [ "$b" -lt 50 ]; then echo red
  elif [ "$r" -lt 50 ] && [ "$g" -gt 200 ] && [ "$b" -lt 50 ]; then echo green
  elif [ "$r" -lt 50 ] && [ "$g" -lt 50 ] && [ "$b" -gt 200 ]; then echo blue
  elif [ "$r" -gt 200 ] && [ "$g" -gt 200 ] && [ "$b" -gt 200 ]; then echo white
  elif [ "$r" -lt 30 ] && [ "$g" -lt 30 ] && [ "$b" -lt 30 ]; then echo black
  else echo other; fi
}

# True when the screen's pixel at X Y has the colour NAME (or has not, for screen_isnt).
screen_is() { [ "$(colour_name "$(screen_pixel "$1" "$2")")" = "$3" ]; }
screen_isnt() { ! screen_is "$@"; }

# Reads the screen's pixel at X Y again and again until it has the colour NAME, for up to
# TENTHS tenths of a second (20 s: a busy machine decodes slowly); else returns 1.
wait_colour() { # x y name [tenths]
  for _ in $(seq "${4:-200}"); do screen_is "$1" "$2" "$3" && return 0; sleep 0.1; done
  return 1
}

# Fails the test with a message.
fail() { echo "FAIL: $*" >&2; exit 1; }
