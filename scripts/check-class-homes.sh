#!/usr/bin/env bash
# Checks that every method of a class is defined in the folder whose header declares the class.
# Reads the functions each folder's library defines (nm) from a build folder:
#   scripts/check-class-homes.sh build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: $0 BUILD_FOLDER}
layers=$(sed -nE 's/^set\(TAVLIN_LAYERS (.*)\)$/\1/p' CMakeLists.txt)

# class name -> the folder of the header that declares it (outermost classes, at the start of a line)
declare -A home
for folder in $layers; do
  while IFS=: read -r file name; do
    home[$name]=$folder
  done < <(grep -HoE '^(class|struct) [A-Za-z_][A-Za-z0-9_]*( final)? *(:[^;]*)?\{?$' "$folder"/*.h 2>/dev/null |
           sed -E 's#^([^/]+)/[^:]*:(class|struct) ([A-Za-z0-9_]+).*#\1:\3#')
done

status=0
for folder in $layers; do
  lib="$build/libtavlin_$folder.a"
  [ -f "$lib" ] || { echo "$lib is missing: build first"; exit 2; }
  # Strong definitions of functions, demangled; a qualifier that names a declared class names
  # the class the function belongs to.
  while read -r symbol; do
    qualified=${symbol%%(*}
    qualified=$(sed -E ':a; s/<[^<>]*>//; ta' <<<"$qualified")
    IFS=':' read -ra parts <<<"${qualified//::/:}"
    for ((i = 0; i < ${#parts[@]} - 1; i++)); do
      class=${parts[$i]}
      theirs=${home[$class]:-}
      if [ -n "$theirs" ]; then
        if [ "$theirs" != "$folder" ]; then
          echo "$folder/ defines $symbol, a method of $class, whose header is in $theirs/"
          status=1
        fi
        break
      fi
    done
  done < <(nm -C --defined-only "$lib" 2>/dev/null | awk '$2 == "T" { $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
           grep -E '^tavlin::' | sort -u)
done
exit $status
