#!/usr/bin/env bash
# F12 on the real window: crane-NNNN.png holds exactly what the window
# shows, legend and panel included; the crane-snapshot command the viewer
# prints makes the same file byte for byte; the number is the lowest free
# one and no file is ever replaced; a folder that cannot be written gives
# one line and the viewer goes on.
source "$(dirname "$0")/lib.sh"
start_xvfb

dir="$SCRATCH/head"
mkdir -p "$dir"
make_phantom "$dir"

# As root the viewer runs as nobody, for whom a folder without write
# permission is one; otherwise as the test's own user.
as_viewer=()
if [ "$(id -u)" = 0 ]; then
  chmod 755 "$SCRATCH"
  if setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$BUILD/crane"; then
    chown nobody "$dir"
    as_viewer=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
fi
(cd "$dir" && exec "${as_viewer[@]}" "$BUILD/crane" >console 2>&1) &
VIEWER_PID=$!
wait_images "$dir" 2
win=$(window_id "^Crane$")
xdotool windowsize --sync "$win" 330 250
wait_images "$dir" 3
images=3

press_key() {
  press "$win" "$1"
  images=$((images + 1))
  wait_images "$dir" "$images"
}

# Presses F12 and waits for its line; puts the line in saved_line.
save() {
  local lines
  lines=$(grep -c "^Image " "$dir/console" || true)
  press "$win" F12
  for _ in $(seq 100); do
    [ "$(grep -c "^Image " "$dir/console" || true)" -gt "$lines" ] && break
    sleep 0.1
  done
  saved_line=$(grep "^Image " "$dir/console" | tail -n 1)
  [ -n "$saved_line" ] || fail "F12 said nothing"
}

# F12's file against the window and against its own command.
check_save() {
  local label=$1 file=$2 keys=$3 options=$4
  save
  local prefix="Image enregistree dans $dir/$file ; pour la refaire : "
  [ "${saved_line#"$prefix"}" != "$saved_line" ] || fail "$label: F12 said: $saved_line"
  local command=${saved_line#"$prefix"}
  local expected="cd $dir && $BUILD/crane-snapshot --size 330x250${keys:+ --keys $keys} --legend$options --out $file"
  [ "$command" = "$expected" ] || fail "$label: the command is '$command', not '$expected'"
  capture "$win" "$SCRATCH/window.png"
  same_pixels "$dir/$file" "$SCRATCH/window.png" || fail "$label: $file differs from the window"
  cp "$dir/$file" "$SCRATCH/saved.png"
  (timeout 300 bash -c "$command") >/dev/null 2>&1 || fail "$label: the printed command failed"
  cmp -s "$dir/$file" "$SCRATCH/saved.png" || fail "$label: the printed command makes another file"
  echo "ok: $label"
}

# The accumulation view with its legend, the panel, a drag of two steps and
# a wheel step.
press_key r
press "$win" F1
xdotool mousemove --window "$win" 200 150 mousedown 1 mousemove --window "$win" 180 150
images=$((images + 1)); wait_images "$dir" "$images"
xdotool mouseup 1
xdotool click 4
images=$((images + 1)); wait_images "$dir" "$images"
check_save "legend, panel, drag and wheel" crane-0001.png rmms " --overlay"

# The next number, past a file that someone else put there.
echo "someone else's" >"$dir/crane-0002.png"
press "$win" F1
press_key r
check_save "the next free number" crane-0003.png rmmsr ""
[ "$(cat "$dir/crane-0002.png")" = "someone else's" ] || fail "crane-0002.png was replaced"

# The slice view before the first slice keeps the last slice drawn; the
# command makes that picture. After a resize there the frame holds what the
# old size left, which no command makes: the line says so.
press_key r
press "$win" c
xdotool key --delay 5 --repeat 90 c
images=$((images + 91))
wait_images "$dir" "$images"
check_save "a slice outside the volume" crane-0004.png "rmmsrr$(printf 'c%.0s' {1..91})" ""
xdotool windowsize --sync "$win" 331 250
images=$((images + 1)); wait_images "$dir" "$images"
save
[ "$saved_line" = "Image enregistree dans $dir/crane-0005.png ; aucune commande ne la refait : la fenetre a change de taille sur une couche hors du volume" ] ||
  fail "after a resize outside the volume F12 said: $saved_line"
capture "$win" "$SCRATCH/window.png"
same_pixels "$dir/crane-0005.png" "$SCRATCH/window.png" || fail "crane-0005.png differs from the window"
echo "ok: a picture no command makes is saved and said so"

# A folder the viewer cannot write: one line, no file, and the viewer goes on.
if [ "$(id -u)" != 0 ] || [ ${#as_viewer[@]} -gt 0 ]; then
  chmod 555 "$dir"
  save
  chmod 755 "$dir"
  [ "$saved_line" = "Image non enregistree dans $dir : Permission denied" ] || fail "unwritable folder: $saved_line"
  [ "$(grep -c "^Image non" "$dir/console")" = 1 ] || fail "unwritable folder: more than one line"
  [ ! -e "$dir/crane-0006.png" ] && [ -z "$(find "$dir" -maxdepth 1 -name '.crane*')" ] ||
    fail "unwritable folder: a file was left"
  press_key c
  echo "ok: an unwritable folder is one line and the viewer goes on"
else
  echo "skipped: an unwritable folder (root, and nobody cannot run $BUILD/crane)"
fi

press "$win" Escape
wait_viewer
[ "$VIEWER_STATUS" = 0 ] || fail "Escape: status $VIEWER_STATUS"
echo "save test passed"
