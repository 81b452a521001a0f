#!/usr/bin/env bash
# Natively under Wayland the window carries an idle inhibitor while a slideshow
# runs: sway, headless, says per window whether idle is inhibited. F4 starts,
# F5 stops (typed through wtype), the screensaver run holds from its start.
# sway refuses to run as root, so as root the compositor and the program run as
# the unprivileged user nobody.
binary=$1
source "$(dirname "$0")/lib.sh"
for tool in sway swaymsg wtype python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (packages sway, wtype, python3)"
done
[ -x "$binary" ] || skip "the program was not built"
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 \
  || skip "Qt's Wayland platform plug-in (package qt6-wayland) is not installed"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null || skip "setpriv is not installed"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  # nobody must reach the program and its own folders below the test's folder.
  chmod 755 "$e2e_tmp"
  "${as_user[@]}" test -x "$binary" \
    || skip "the user nobody cannot run the program from where it was built"
fi
run="$e2e_tmp/run"
home="$e2e_tmp/home"
mkdir -p "$run" "$home/pictures"
colour_pictures "$home/pictures" 200x100
printf 'output HEADLESS-1 resolution 1024x768\nxwayland disable\n' >"$e2e_tmp/sway.config"
[ "$(id -u)" -eq 0 ] && chown -R 65534:65534 "$run" "$home"
chmod 700 "$run"

# Everything below runs with this environment only: no X display, no session bus.
# sway's control socket gets a path of its own; without one it takes a nameless
# socket that every sway on the machine would share.
# In a background job it is the job's own process, so its id is the job's.
as() {
  exec env -i PATH="$PATH" HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$run" \
    WAYLAND_DISPLAY=wayland-1 DBUS_SESSION_BUS_ADDRESS="unix:path=$e2e_tmp/no-bus" \
    SWAYSOCK="$run/sway-ipc.sock" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    QT_QPA_PLATFORM=wayland "${as_user[@]}" "$@"
}

sway_pid=""
trap '[ -z "$sway_pid" ] || kill "$sway_pid" 2>/dev/null; cleanup' EXIT
(as sway -c "$e2e_tmp/sway.config") >"$e2e_tmp/sway.log" 2>&1 &
sway_pid=$!
wait_until test -S "$run/wayland-1" || fail "sway did not start: $(tail -n5 "$e2e_tmp/sway.log")"
sway_answers() { (as swaymsg -t get_version) >/dev/null 2>&1; }
wait_until sway_answers || fail "sway does not answer: $(tail -n5 "$e2e_tmp/sway.log")"

# "true" or "false" for the program's full-screen window as sway sees it, "none"
# without one (the splash comes first).
inhibited() {
  (as swaymsg -t get_tree) | python3 -c '
import json, sys
def views(node):
    yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from views(child)
found = [v.get("inhibit_idle") for v in views(json.load(sys.stdin))
         if v.get("app_id") == "io.github.tavlin.Tavlin" and v.get("visible")
         and v.get("fullscreen_mode")]
print("none" if not found else "true" if any(found) else "false")'
}
# wtype brings a keyboard of its own for each call: a key sent the moment it
# arrives can be lost while the program takes its key map, so it waits first.
type_key() { (as wtype -s 200 -k "$1" -s 100); }
inhibited_is() { [ "$(inhibited)" = "$1" ]; }
expect() { # state, what was done
  wait_until inhibited_is "$1" || fail "$2: idle inhibited is $(inhibited), not $1"
}
start() { # log, then the program's arguments
  local log=$1; shift
  (as "$binary" "$@") >"$e2e_tmp/$log" 2>&1 &
  app_pid=$!
  for _ in $(seq 150); do [ "$(inhibited)" != none ] && break; sleep 0.1; done
  [ "$(inhibited)" != none ] || fail "no window appeared for tavlin $*: $(cat "$e2e_tmp/$log")"
  sleep 0.5
}
finish() { # what ended it
  wait_exit || fail "the program did not end after $1"
  [ "$app_status" -eq 0 ] || fail "the program ended with an error (exit $app_status)"
}

# The first run stores the folder; with the panel shown the drive box would take F4,
# and the slide sound would find no sound card here.
start first.log "$home/pictures"
kill -TERM "$app_pid"; finish "SIGTERM to the first run"
sed -i 's/^"Show Controls"=.*/"Show Controls"="false"/; s/^"Loop Seconds"=.*/"Loop Seconds"="1"/
        s/^"Play Slideshow Sound"=.*/"Play Slideshow Sound"="false"/' \
  "$home/config/tavlin/registry/HKEY_CURRENT_USER.reg"

start viewer.log
[ "$(inhibited)" = false ] || fail "the viewer inhibited idle before any slideshow"
type_key F4
expect true "starting the slideshow"
type_key F5
expect false "stopping the slideshow"
type_key F4
expect true "starting it again"
# The release at exit leaves with the window: the X tests see it.
kill -TERM "$app_pid"; finish "SIGTERM to the viewer"

start saver.log /s
expect true "the screensaver run"
kill -TERM "$app_pid"; finish "SIGTERM to the screensaver run"

for log in first viewer saver; do
  [ -s "$e2e_tmp/$log.log" ] && fail "$log printed: $(cat "$e2e_tmp/$log.log")"
done
echo "end-to-end idle inhibit: ok"
