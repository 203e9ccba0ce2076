#!/usr/bin/env bash
# A short run of the real viewer under valgrind's memcheck: start-up, every
# view, a rotation, Escape. No invalid read or write, no use of an
# uninitialised value. Leaks are not checked: the process ends inside GLUT's
# loop by design and the OpenGL driver keeps its own allocations.
# Under memcheck the viewer runs tens of times slower: the limits are wider.
IMAGE_LIMIT=900
source "$(dirname "$0")/lib.sh"
command -v valgrind >/dev/null || fail "valgrind is not installed"
start_xvfb

suppressions=$(realpath "$(dirname "$0")/valgrind.supp")
dir="$SCRATCH/head"
mkdir -p "$dir"
make_phantom "$dir"
(cd "$dir" && exec valgrind --error-exitcode=42 --leak-check=no \
  --suppressions="$suppressions" "$BUILD/crane" >console 2>&1) &
VIEWER_PID=$!
VIEWER_CONSOLE=$dir/console
win=$(window_id '^Crane$' 900)
wait_images "$dir" 2
images=2
for key in r r r r o; do
  press "$win" "$key"
  images=$((images + 1))
  wait_images "$dir" "$images"
done
press "$win" Escape
wait_viewer 900
grep -E "ERROR SUMMARY" "$dir/console" || true
[ "$VIEWER_STATUS" = 0 ] ||
  fail "memcheck found errors (status $VIEWER_STATUS): $(grep -A20 -E 'Invalid|uninitialised' "$dir/console" | head -n 60)"
echo "valgrind test passed"
