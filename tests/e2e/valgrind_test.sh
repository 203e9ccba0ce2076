#!/usr/bin/env bash
# A short run of the real viewer under valgrind's memcheck: start-up, every
# view, a rotation, Escape. No invalid read or write, no use of an
# uninitialised value. Leaks are not checked: the process ends inside GLUT's
# loop by design and the OpenGL driver keeps its own allocations.
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
win=""
for _ in $(seq 600); do
  win=$(xdotool search --onlyvisible --name '^Crane$' 2>/dev/null | head -n 1 || true)
  [ -n "$win" ] && break
  kill -0 "$VIEWER_PID" 2>/dev/null || break
  sleep 0.5
done
[ -n "$win" ] || fail "no window under valgrind: $(tail -n 20 "$dir/console")"
wait_images "$dir" 2
images=2
for key in r r r r o; do
  press "$win" "$key"
  images=$((images + 1))
  for _ in $(seq 600); do
    [ "$(grep -c "^Calcul d'image fini$" "$dir/console")" -ge "$images" ] && break
    sleep 0.5
  done
done
press "$win" Escape
for _ in $(seq 600); do kill -0 "$VIEWER_PID" 2>/dev/null || break; sleep 0.5; done
status=0
wait "$VIEWER_PID" || status=$?
VIEWER_PID=
grep -E "ERROR SUMMARY" "$dir/console" || true
[ "$status" = 0 ] || fail "memcheck found errors (status $status): $(grep -A20 -E 'Invalid|uninitialised' "$dir/console" | head -n 60)"
echo "valgrind test passed"
