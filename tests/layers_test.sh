#!/usr/bin/env bash
# The source tree's layers: each folder of src/ includes only from the
# folders below it, only the window's files use OpenGL and GLUT, and only
# the application prints.
#
#   app      -> overlay, render, volume   (window.cpp and main.cpp: GL too)
#   overlay  -> overlay                   (GL; draws what it is given)
#   render   -> render, volume
#   volume   -> volume
set -euo pipefail
src=$(cd "$(dirname "$0")/../src" && pwd)
status=0

# Prints the quoted project includes of the files in folder $1 that name a
# folder outside the allowed list $2 (a regular expression).
check() {
  local folder=$1 allowed=$2 file line
  while IFS= read -r file; do
    while IFS= read -r line; do
      echo "layers: ${file#$src/} includes $line, outside $folder's layers"
      status=1
    done < <(grep -oE '^#include "[^"/]+/' "$file" | sed -E 's/#include "//; s#/$##' | grep -vxE "$allowed" || true)
  done < <(find "$src/$folder" -name '*.h' -o -name '*.cpp' -o -name '*.inc')
}

check volume 'volume'
check render 'render|volume'
check overlay 'overlay'
check app 'app|overlay|render|volume'

# OpenGL and GLUT stay in the window's files, so that everything else
# builds and runs without a display.
while IFS= read -r file; do
  case ${file#$src/} in
    app/window.cpp | app/main.cpp | overlay/*) ;;
    *) echo "layers: ${file#$src/} uses OpenGL or GLUT"; status=1 ;;
  esac
done < <(grep -rlE '^#include <GL/' "$src")

# The console is the application's: the volume and the renderers report
# through return values and callbacks, and never print.
while IFS= read -r hit; do
  echo "layers: ${hit#$src/} prints"
  status=1
done < <(grep -rnE '\b(printf|fprintf|puts|fputs|putchar|perror)\s*\(|std::(cout|cerr|clog)\b' "$src/volume" "$src/render" || true)

[ $status = 0 ] && echo "layers: every include follows the layers; only the application prints"
exit $status
