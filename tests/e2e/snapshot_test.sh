#!/usr/bin/env bash
# crane-snapshot's command line: options and refusals, --turntable, and
# writes that never lose what was at --out: a device node, a symbolic link,
# a full disk, concurrent writers, a signal in the middle of the PNG. It
# computes only the picture it writes, so 100,000 keys replay at once.
source "$(dirname "$0")/lib.sh"
cd "$SCRATCH"
make_phantom "$SCRATCH"
snap() { timeout 300 "$BUILD/crane-snapshot" "$@"; }
# $1 written $2 times.
repeat() { local s="" i; for ((i = 0; i < $2; i++)); do s+=$1; done; printf '%s' "$s"; }

# Usage and status 2 for what does not parse; --help on standard output.
snap --help >out 2>err || fail "--help: status $?"
grep -q "^usage: crane-snapshot" out && grep -q -- "--turntable N --out DIR" out && [ ! -s err ] ||
  fail "--help: $(cat out err)"
for args in "--turntable 0 --out f" "--turntable -1 --out f" "--turntable abc --out f" "--turntable 10001 --out f" \
            "--turntable 5" "--turntable" "--turntable 2x --out f" "--legend=1" "--keys"; do
  status=0; snap $args >out 2>err || status=$?
  [ "$status" = 2 ] && grep -q "^usage: crane-snapshot" err && [ ! -s out ] || fail "'$args': status $status, $(cat err)"
done
[ ! -e f ] || fail "a refused command wrote f"
echo "ok: usage"

# Frame k of a turntable is the view after k more presses of m: the same
# bytes as one snapshot with those keys.
snap --size 160x120 --keys r --legend --overlay --turntable 63 --out frames >out 2>err || fail "turntable: $(cat err)"
[ "$(ls frames | wc -l)" = 63 ] && [ -f frames/frame-000.png ] && [ -f frames/frame-062.png ] ||
  fail "turntable wrote $(ls frames | head)"
for k in 0 1 62; do
  snap --size 160x120 --keys "r$(repeat m $k)" --legend --overlay --out one.png >/dev/null 2>&1
  cmp -s "frames/frame-$(printf %03d $k).png" one.png || fail "turntable frame $k differs from $k presses of m"
done
[ "$(grep -c "Calcul d'image fini" err)" = 0 ] || fail "turntable printed image lines: $(cat err)"
echo "ok: turntable frames 0, 1 and 62"
# Again into the same folder: the frames are replaced, whole. A slice
# outside the volume keeps the last picture drawn before it, as the window.
keys="rrr$(repeat c 91)"
snap --size 97x61 --keys "$keys" --turntable 1001 --out frames >/dev/null 2>&1 || fail "second turntable"
[ -f frames/frame-0000.png ] && [ -f frames/frame-1000.png ] || fail "1001 frames are not numbered 0000 to 1000"
snap --size 97x61 --keys "${keys}mm" --out one.png >/dev/null 2>&1
cmp -s frames/frame-0002.png one.png || fail "turntable outside the volume differs from the snapshot"
echo "ok: turntable outside the volume, four-digit numbers"
# A progress bar, on a terminal only.
script -qec "timeout 300 '$BUILD/crane-snapshot' --turntable 3 --out tty-frames" /dev/null >tty.txt 2>&1 ||
  fail "turntable on a terminal: $(cat tty.txt)"
grep -q "turntable \[#*\.*\] 3/3" tty.txt || fail "no progress bar on a terminal: $(cat -A tty.txt)"
grep -q "turntable \[" err && fail "a progress bar without a terminal"
echo "ok: progress bar"

# A folder that cannot be made or written: one line, status 1.
touch plain
for out in plain /dev/null/frames missing/frames; do
  status=0; snap --turntable 2 --out "$out" >out 2>err || status=$?
  [ "$status" = 1 ] && [ "$(wc -l <err)" = 1 ] && grep -q "^crane-snapshot: cannot write $out: " err ||
    fail "turntable into $out: status $status, $(cat err)"
done
if [ "$(id -u)" != 0 ]; then
  mkdir locked && chmod 555 locked
  status=0; snap --turntable 2 --out locked >out 2>err || status=$?
  [ "$status" = 1 ] && grep -q "cannot write locked: Permission denied" err || fail "locked folder: $(cat err)"
fi
echo "ok: folders that cannot be written"

# --out onto what is not a regular file: refused, left as it was.
echo precious >kept.png
ln -s kept.png link.png
mkdir folder.png
for out in /dev/full /dev/null link.png folder.png; do
  status=0; snap --out "$out" >out 2>err || status=$?
  [ "$status" = 1 ] && [ "$(cat err)" = "crane-snapshot: cannot write $out: not a regular file; it is left as it is" ] ||
    fail "--out $out: status $status, $(cat err)"
done
[ -c /dev/full ] && [ -c /dev/null ] && [ -L link.png ] && [ "$(cat kept.png)" = precious ] && [ -d folder.png ] ||
  fail "a refused target was changed"
[ -z "$(find . -maxdepth 1 -name '.*.png.*')" ] || fail "a temporary file was left"
echo "ok: device nodes, links and folders are refused"

# A full disk: the old file stays whole and no temporary file is left.
if [ "$(id -u)" = 0 ] && mkdir small && mount -t tmpfs -o size=256k tmpfs small 2>/dev/null; then
  trap 'umount "$SCRATCH/small" 2>/dev/null || true; cleanup' EXIT
  head -c 50000 /dev/urandom >small/old.png
  cp small/old.png old-copy.png
  head -c 200000 /dev/zero >small/filler 2>/dev/null || true
  status=0; snap --size 512x512 --keys rr --out small/old.png >out 2>err || status=$?
  [ "$status" = 1 ] && [ "$(grep -v "^$\|^Calcul d'image fini$\|^Chargement du crane$" err)" = \
    "crane-snapshot: cannot write small/old.png: No space left on device" ] ||
    fail "full disk: status $status, $(cat err)"
  cmp -s small/old.png old-copy.png || fail "full disk: the old file changed"
  [ "$(ls -A small | sort | tr '\n' ' ')" = "filler old.png " ] || fail "full disk left $(ls -A small)"
  umount small
  echo "ok: a full disk leaves the old file"
else
  echo "skipped: a full disk (needs root and a tmpfs mount)"
fi

# Concurrent writers to one --out: each exits 0 and one whole PNG remains,
# byte for byte one of theirs.
for i in 1 2 3 4; do snap --size $((100 + i * 40))x90 --keys "$(repeat m $i)" --out "ref$i.png" >/dev/null 2>&1; done
for round in 1 2 3; do
  pids=()
  for i in 1 2 3 4; do
    snap --size $((100 + i * 40))x90 --keys "$(repeat m $i)" --out shared.png >/dev/null 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || fail "a concurrent writer failed"; done
  found=
  for i in 1 2 3 4; do cmp -s shared.png "ref$i.png" && found=$i; done
  [ -n "$found" ] || fail "concurrent writers left a file that is none of theirs"
done
[ -z "$(find . -maxdepth 1 -name '.shared.png.*')" ] || fail "concurrent writers left temporary files"
echo "ok: concurrent writers leave one whole PNG"

# A signal while the PNG is being written: the old file stays, the
# temporary one goes, and the signal ends the program as it would have.
echo precious >big.png
for sig in TERM INT HUP; do
  env --default-signal=INT "$BUILD/crane-snapshot" --size 8192x8192 --keys rrr --out big.png >/dev/null 2>&1 &
  pid=$!
  temporary=
  for _ in $(seq 2400); do
    temporary=$(find . -maxdepth 1 -name '.big.png.*' | head -n 1)
    [ -n "$temporary" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$temporary" ] || fail "SIG$sig: the PNG write never started"
  kill -"$sig" "$pid"
  status=0; wait "$pid" || status=$?
  [ "$status" = $((128 + $(kill -l "$sig"))) ] || fail "SIG$sig: status $status"
  [ "$(cat big.png)" = precious ] || fail "SIG$sig: the old file changed"
  [ -z "$(find . -maxdepth 1 -name '.big.png.*')" ] || fail "SIG$sig: the temporary file was left"
done
echo "ok: a signal during the write leaves the old file and no temporary one"

# 100,000 keys: their own lines, one image, the picture of their view.
keys=$(repeat qwsx 25000)
start=$(date +%s%N)
snap --size 200x150 --keys "$keys" --out many.png >out 2>err || fail "100,000 keys: $(cat err)"
end=$(date +%s%N)
[ "$(grep -c "Calcul d'image fini" err)" = 1 ] || fail "100,000 keys computed $(grep -c "Calcul d'image fini" err) images"
[ "$(grep -o "Seuil de densite" out | wc -l)" = 50000 ] || fail "100,000 keys: the threshold lines are missing"
snap --size 200x150 --out none.png >/dev/null 2>&1
cmp -s many.png none.png || fail "100,000 keys that come back to the start give another picture"
echo "ok: 100,000 keys in $(((end - start) / 1000000)) ms"
echo "snapshot test passed"
