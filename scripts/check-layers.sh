#!/usr/bin/env bash
# Checks that no source file includes a header from a folder above its own.
# The folders, lowest first; a folder may include its own headers and those of
# the folders before it in this list, never those after it.
#   platform/  stand-ins for the old platform's services: the settings hives, file
#              names as bytes, existence tests, opening regular files, the X display,
#              keeping the screen awake, signals, memory
#   assets/    the built-in pictures
#   layout/    the window's geometry in twips and the texts of its information lines
#   desktop/   printing and the help document
#   registry/  the settings store's keys and the settings routines
#   fileops/   single and batch rename with the prefix dialog, and the batch journal
#   decode/    the picture loader and its readers, the decoder's worker threads and cache
#   viewer/    the main window: browsing, display, slideshow, input, menus, About
#   dialogs/   the screensaver settings dialog
#   app/       the command line, start-up and the run modes, the splash, main()
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(platform assets layout desktop registry fileops decode viewer dialogs app)

rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

status=0
# The build links each folder as a library of its own in the same order (CMakeLists.txt).
built=$(sed -nE 's/^set\(TAVLIN_LAYERS (.*)\)$/\1/p' CMakeLists.txt)
if [ "$built" != "${layers[*]}" ]; then
  echo "CMakeLists.txt links the folders as \"$built\", not in the order \"${layers[*]}\" of $0"
  status=1
fi
for dir in */; do
  dir=${dir%/}
  own=$(rank "$dir")
  # Only the program's own folders are layered; tests, benchmarks and tools sit on top.
  if [ "$own" -lt 0 ]; then
    if compgen -G "$dir/*.cpp" >/dev/null || compgen -G "$dir/*.h" >/dev/null; then
      case $dir in tests | bench) ;; *)
        echo "$dir/ holds sources but has no place in the layer list of $0"
        status=1 ;;
      esac
    fi
    continue
  fi
  while IFS=: read -r file line target; do
    folder=${target%%/*}
    theirs=$(rank "$folder")
    if [ "$theirs" -gt "$own" ]; then
      echo "$file:$line: includes $target from $folder/, a folder above $dir/"
      status=1
    fi
  done < <(grep -HnoE '^#include "[a-z]+/[^"]+"' "$dir"/*.cpp "$dir"/*.h 2>/dev/null |
           sed -E 's/:#include "/:/; s/"$//')
done
exit $status
