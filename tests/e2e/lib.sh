# Shared helpers of the end-to-end tests: a private X server, the viewer
# started in a scratch folder, window lookup, key presses and captures.
# Expects BUILD (the build folder) in the environment.
#
# Every wait has a limit in seconds and, when the limit passes, fails with
# what it waited for. The limits are there against hangs, not slowness: far
# above what a 2-core machine loaded ten times over needs (an image that
# takes 25 ms alone can take seconds there), and below CTest's timeout.
set -euo pipefail

BUILD=${BUILD:?BUILD must name the build folder}
SCRATCH=$(mktemp -d /tmp/crane-e2e.XXXXXX)
XVFB_PID=
VIEWER_PID=
VIEWER_CONSOLE=/dev/null
# Seconds for one image of the viewer, and for one X request (a focus, a
# resize, a capture). The valgrind test raises the first.
IMAGE_LIMIT=${IMAGE_LIMIT:-300}
X_LIMIT=${X_LIMIT:-120}

# OpenMP threads that wait by spinning crawl when other processes hold the
# cores: 10,000 keys in crane-snapshot took over 50 s instead of 13 s beside
# two busy processes. Waiting threads sleep instead; the images are the same.
export OMP_WAIT_POLICY=${OMP_WAIT_POLICY:-passive}

fail() { echo "FAIL: $*" >&2; exit 1; }

cleanup() {
  [ -n "$VIEWER_PID" ] && kill "$VIEWER_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds;
# returns 1 when it has not succeeded within SECONDS, for the caller to fail
# with what it waited for. COMMAND may itself fail the test at once (for
# example when the process it waits on has ended).
wait_for() {
  local limit=$1
  shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# bounded SECONDS COMMAND...: runs COMMAND with a time limit (an X client
# can block on a server that does not answer); when it runs out, says so on
# standard error, naming the command, and returns 124.
bounded() {
  local limit=$1 status=0
  shift
  timeout -k 5 "$limit" "$@" || status=$?
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "timed out after $limit s: $*" >&2
    return 124
  fi
  return "$status"
}

# Starts a private Xvfb, 24-bit colour so that captured pixels are the
# image's bytes. Xvfb picks a free display number itself and writes it once
# it accepts connections, so tests running side by side never share a
# server. -noreset: without it the server resets whenever its last client
# leaves, and a client connecting during the reset fails (SIGPIPE).
start_xvfb() {
  local display_file=$SCRATCH/display
  Xvfb -displayfd 3 -noreset -screen 0 1600x1200x24 -nolisten tcp \
    3>"$display_file" >"$SCRATCH/xvfb.log" 2>&1 &
  XVFB_PID=$!
  # Xvfb writes the number and a newline in one write.
  xvfb_ready() {
    kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb ended at start: $(cat "$SCRATCH/xvfb.log")"
    grep -qx '[0-9][0-9]*' "$display_file"
  }
  wait_for 30 xvfb_ready || fail "timed out after 30 s waiting for Xvfb's display number: $(cat "$SCRATCH/xvfb.log")"
  export DISPLAY=":$(cat "$display_file")"
  xvfb_answers() { timeout 10 xdpyinfo >/dev/null 2>&1; }
  wait_for 30 xvfb_answers || fail "timed out after 30 s waiting for Xvfb on $DISPLAY to answer xdpyinfo"
}

# Writes the built-in phantom head into folder/fullHead.
make_phantom() {
  bounded 120 "$BUILD/crane-phantom" "$1/fullHead" 2>"$SCRATCH/phantom.err" ||
    fail "crane-phantom could not write $1/fullHead: $(cat "$SCRATCH/phantom.err")"
}

# Starts the viewer in folder $1 with the remaining arguments; its standard
# output and error go, interleaved, to $1/console.
start_viewer() {
  local folder=$1
  shift
  (cd "$folder" && exec "$BUILD/crane" "$@" >console 2>&1) &
  VIEWER_PID=$!
  VIEWER_CONSOLE=$folder/console
}

# Number of images the viewer in folder $1 has finished so far.
images_done() {
  local n
  n=$(grep -c "^Calcul d'image fini$" "$1/console" 2>/dev/null) || true
  echo "${n:-0}"
}

# Waits until the console in folder $1 holds $2 "Calcul d'image fini" lines;
# fails at once when the viewer ends before.
wait_images() {
  local folder=$1 count=$2
  has_images() {
    [ "$(images_done "$folder")" -ge "$count" ] && return 0
    kill -0 "$VIEWER_PID" 2>/dev/null || fail "the viewer ended before image $count: $(tail -n 20 "$folder/console")"
    return 1
  }
  wait_for "$IMAGE_LIMIT" has_images ||
    fail "timed out after $IMAGE_LIMIT s waiting for image $count (the viewer has finished $(images_done "$folder")): $(tail -n 5 "$folder/console")"
}

# Prints the id of the mapped window whose title matches $1 (GLUT sets no
# process id on its windows, so the title is what finds it). Fails at once
# when the viewer started by start_viewer ends before.
window_id() {
  local title=$1 limit=${2:-$X_LIMIT} id=
  find_window() {
    id=$(timeout 10 xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && return 0
    [ -z "$VIEWER_PID" ] || kill -0 "$VIEWER_PID" 2>/dev/null || fail "the viewer ended before its window '$title' appeared: $(tail -n 20 "$VIEWER_CONSOLE")"
    return 1
  }
  wait_for "$limit" find_window || fail "timed out after $limit s waiting for a visible window titled '$title'"
  echo "$id"
}

# Presses one key in the viewer's window. Focus and key go in one xdotool
# run, one X connection, so the server handles the focus change before the
# key and the key cannot reach another window.
press() {
  bounded "$X_LIMIT" xdotool windowfocus --sync "$1" key --clearmodifiers "$2" ||
    fail "could not press $2 in window $1"
}

# Resizes the window and waits until the server reports the new size.
resize() {
  bounded "$X_LIMIT" xdotool windowsize --sync "$1" "$2" "$3" || fail "could not resize window $1 to $2 x $3"
}

# Waits for the viewer to end and puts its exit status in VIEWER_STATUS.
# Runs in the test's own shell: only there is the viewer a child to wait for.
wait_viewer() {
  local limit=${1:-$X_LIMIT}
  viewer_ended() { ! kill -0 "$VIEWER_PID" 2>/dev/null; }
  wait_for "$limit" viewer_ended || fail "timed out after $limit s waiting for the viewer (process $VIEWER_PID) to end"
  VIEWER_STATUS=0
  wait "$VIEWER_PID" || VIEWER_STATUS=$?
  VIEWER_PID=
}

# Captures the window's contents as a PNG.
capture() { bounded "$X_LIMIT" import -window "$1" "$2" || fail "could not capture window $1"; }

# capture_until WINDOW FILE WHAT COMMAND...: captures the window into FILE
# until COMMAND succeeds. The viewer draws an image after it prints
# "Calcul d'image fini", so a capture at that moment may still show the
# previous one.
capture_until() {
  local win=$1 file=$2 what=$3
  shift 3
  captured() { capture "$win" "$file" && "$@"; }
  wait_for "$X_LIMIT" captured "$@" || fail "timed out after $X_LIMIT s waiting for the window to show $what"
}

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
