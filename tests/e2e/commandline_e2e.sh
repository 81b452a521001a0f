#!/usr/bin/env bash
# The conventional options answer without any X server, a missing display is
# one line and exit 1, and SIGTERM during the start-up splash still leaves
# through the normal exit (the settings are written).
binary=$1
source "$(dirname "$0")/lib.sh"

# expect CODE STREAM FIRST-LINE ARGS...: exit code and the first line of one stream.
expect() {
  local code=$1 stream=$2 first=$3; shift 3
  set +e
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" "$@" \
    >"$e2e_tmp/out" 2>"$e2e_tmp/err"
  local rc=$?
  set -e
  [ "$rc" -eq "$code" ] || fail "tavlin $*: exit code $rc, wanted $code ($(cat "$e2e_tmp/err"))"
  local got
  got=$(head -n1 "$e2e_tmp/$stream")
  case "$got" in "$first"*) ;; *) fail "tavlin $*: first line '$got', wanted '$first...'" ;; esac
}
expect 0 out "Usage: tavlin" --help
expect 0 out "Usage: tavlin" -h
expect 0 out "Tavlin 2.0.109" --version
expect 2 err "tavlin: unknown option '--fullscreen'" --fullscreen
expect 2 err "tavlin: -window-id needs a window number" -window-id nothing
# Only the exact switches choose a run mode: absolute paths start with "/" too.
expect 2 err "tavlin: unknown option '-x' (see tavlin --help)" -x
expect 2 err "tavlin: “/srv/photos-not-mounted” does not exist" /srv/photos-not-mounted
expect 2 err "tavlin: “/pictures/holiday” does not exist" /pictures/holiday
[ "$(wc -l <"$e2e_tmp/err")" -eq 1 ] || fail "a missing folder printed more than one line"
expect 1 err "tavlin: cannot open the display"
expect 1 err "tavlin: cannot open the display" /s
expect 0 out "" /p
[ "$(wc -l <"$e2e_tmp/err")" -eq 0 ] || fail "/p printed: $(cat "$e2e_tmp/err")"
DISPLAY=:98765 "$binary" /s 2>"$e2e_tmp/err" && fail "an unreachable display was accepted"
[ "$(cat "$e2e_tmp/err")" = 'tavlin: cannot open the display ":98765"' ] \
  || fail "unreachable display: $(cat "$e2e_tmp/err")"

# SIGTERM while the splash is up, on the very first start.
start_x
pictures="$e2e_tmp/pictures"
mkdir -p "$pictures"
convert -size 200x100 xc:'#ff0000' "$pictures/red.jpg"
hive="$XDG_CONFIG_HOME/tavlin/registry/HKEY_CURRENT_USER.reg"
"$binary" "$pictures" >"$e2e_tmp/app.log" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  [ -n "$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null || true)" ] && break
  sleep 0.05
done
[ -n "$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null || true)" ] || fail "no splash appeared"
[ -z "$(xdotool search --onlyvisible --name '^Tavlin 2.0$' 2>/dev/null || true)" ] \
  || fail "the main window was up before the splash ended"
kill -TERM "$app_pid"
wait_exit || fail "SIGTERM during the splash did not end the program"
[ "$app_status" -eq 0 ] || fail "SIGTERM during the splash killed the program (exit $app_status)"
grep -qF "\"Last Directory\"=\"$pictures\"" "$hive" || fail "SIGTERM during the splash did not save the settings"
echo "end-to-end command line: ok"
