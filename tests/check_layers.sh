#!/usr/bin/env bash
# Fails when a source of the library includes a header of a folder that is
# not below its own. Layers, lowest first:
#   platform < runtime < image, codec < imc2, legacy, tine, processing, syslist
#   < files < lifecycle
set -euo pipefail
src=${1:?usage: check_layers.sh SRC_DIR}

rank() {
  case "$1" in
    platform) echo 0 ;;
    runtime) echo 1 ;;
    image|codec) echo 2 ;;
    imc2|legacy|tine|processing|syslist) echo 3 ;;
    files) echo 4 ;;
    lifecycle) echo 5 ;;
    *) echo "" ;;
  esac
}

status=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  own=$(rank "$folder")
  if [ -z "$own" ]; then
    echo "folder src/$folder has no layer" >&2
    status=1
    continue
  fi
  while IFS=: read -r file _ include; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$include")
    [ "$target" = "$folder" ] && continue
    [ "$target" = "quivox3" ] && continue
    theirs=$(rank "$target")
    if [ -z "$theirs" ] || [ "$theirs" -ge "$own" ]; then
      echo "${file#"$src"/} includes $target/ (layer ${theirs:-unknown}), not below its own $folder/ (layer $own)" >&2
      status=1
    fi
  done < <(grep -Hn '#include "[^"]*/' "$dir"* 2>/dev/null || true)
done
exit $status
