# Shared helpers of the end-to-end tests: a private X server, the viewer
# started in a scratch folder, window lookup, key presses and captures.
# Expects BUILD (the build folder) in the environment.
set -euo pipefail

BUILD=${BUILD:?BUILD must name the build folder}
SCRATCH=$(mktemp -d /tmp/crane-e2e.XXXXXX)
XVFB_PID=
VIEWER_PID=

fail() { echo "FAIL: $*" >&2; exit 1; }

cleanup() {
  [ -n "$VIEWER_PID" ] && kill "$VIEWER_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

# Starts a private Xvfb, 24-bit colour so that captured pixels are the
# image's bytes. Xvfb picks a free display number itself and reports it,
# so tests running side by side never share a server.
start_xvfb() {
  local fifo=$SCRATCH/displayfd n=
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$fifo" >"$SCRATCH/xvfb.log" 2>&1 &
  XVFB_PID=$!
  read -r -t 30 n <"$fifo" || fail "Xvfb did not start: $(cat "$SCRATCH/xvfb.log")"
  export DISPLAY=":$n"
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "Xvfb on $DISPLAY does not answer"
}

# Writes the built-in phantom head into folder/fullHead.
make_phantom() { "$BUILD/crane-phantom" "$1/fullHead" 2>/dev/null; }

# Starts the viewer in folder $1 with the remaining arguments; its standard
# output and error go, interleaved, to $1/console.
start_viewer() {
  local folder=$1; shift
  (cd "$folder" && exec "$BUILD/crane" "$@" >console 2>&1) &
  VIEWER_PID=$!
}

# Waits until the console in folder $1 holds $2 "Calcul d'image fini" lines.
wait_images() {
  local folder=$1 count=$2
  for _ in $(seq 300); do
    [ "$(grep -c "^Calcul d'image fini$" "$folder/console" 2>/dev/null || true)" -ge "$count" ] && return 0
    kill -0 "$VIEWER_PID" 2>/dev/null || fail "the viewer ended early: $(cat "$folder/console")"
    sleep 0.1
  done
  fail "timed out waiting for image $count"
}

# Prints the id of the mapped window whose title matches $1 (GLUT sets no
# process id on its windows, so the title is what finds it).
window_id() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window appeared"
}

# Presses one key in the viewer's window.
press() { xdotool windowfocus --sync "$1" 2>/dev/null || true; xdotool key --clearmodifiers "$2"; }

# Waits for the viewer to end and puts its exit status in VIEWER_STATUS.
# Runs in the test's own shell: only there is the viewer a child to wait for.
wait_viewer() {
  for _ in $(seq 300); do
    kill -0 "$VIEWER_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$VIEWER_PID" 2>/dev/null && fail "the viewer did not end"
  VIEWER_STATUS=0
  wait "$VIEWER_PID" || VIEWER_STATUS=$?
  VIEWER_PID=
}

# Captures the window's contents as a PNG.
capture() { import -window "$1" "$2"; }

# Number of pixels that differ between two images of the same size.
differing_pixels() { compare -metric AE "$1" "$2" null: 2>&1 || true; }

# Colour of one pixel, counted from the top-left corner, as "r,g,b".
pixel() {
  convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- | tail -n 1 |
    sed -E 's/^[^(]*\(([0-9]+),([0-9]+),([0-9]+).*/\1,\2,\3/'
}

# ---- Helpers of the mouse, overlay, saving and snapshot tests.

# Number of images the viewer in folder $1 has computed so far.
image_count() { grep -c "^Calcul d'image fini$" "$1/console" 2>/dev/null || true; }

# Runs crane-snapshot in folder $1 (which holds fullHead), writing $2, with
# the remaining arguments; fails naming them if it does not succeed.
snapshot_in() {
  local folder=$1 out=$2; shift 2
  (cd "$folder" && timeout 300 "$BUILD/crane-snapshot" "$@" --out "$out" >/dev/null 2>&1) ||
    fail "crane-snapshot $* failed"
}

# Waits until the capture of window $1 (kept in $2) shows the pixels of
# PNG $3; the viewer may still be drawing. Fails saying $4.
wait_for_picture() {
  local diff=unknown
  for _ in $(seq 50); do
    capture "$1" "$2"
    diff=$(differing_pixels "$2" "$3")
    [ "$diff" = 0 ] && return 0
    sleep 0.1
  done
  fail "$4: $diff pixels differ after 5 s"
}

# Whether two pictures hold the same pixels, byte for byte.
same_pixels() { cmp -s <(convert "$1" -depth 8 rgb:-) <(convert "$2" -depth 8 rgb:-); }
