#!/usr/bin/env bash
# crane-snapshot pushed to the edges: extreme and malformed window sizes,
# an unwritable output, and ten thousand random key presses with the
# resident memory staying flat.
source "$(dirname "$0")/lib.sh"
cd "$SCRATCH"
make_phantom "$SCRATCH"
snap="$BUILD/crane-snapshot"
# Limit for one run of crane-snapshot, against hangs only: the largest image
# and the 10,000 keys take seconds alone, but minutes under the sanitizers
# on a machine loaded ten times over.
limit=900

# Sizes the window can take: each gives an image of exactly that size.
for size in 1x1 1x4096 4096x1 8192x8192; do
  bounded $limit "$snap" --size "$size" --keys r --out "s.png" >/dev/null 2>err || fail "size $size: $(cat err)"
  got=$(identify -ping -format '%wx%h' s.png)
  [ "$got" = "$size" ] || fail "size $size gave $got"
done
# An empty window renders nothing and cannot be stored as a PNG: a clear
# error, not a crash and not an empty file.
rm -f s.png
status=0; bounded $limit "$snap" --size 0x0 --out s.png >/dev/null 2>err || status=$?
[ "$status" = 1 ] && grep -q "no pixels" err && [ ! -e s.png ] || fail "size 0x0: status $status, $(cat err)"

# Malformed sizes and options: usage and status 2.
for args in "--size abc" "--size 10x" "--size x10" "--size -1x5" "--size 99999x2" "--size 16385x1" \
            "--size 8193x8193" "--bogus" "--out"; do
  status=0; bounded $limit "$snap" $args >/dev/null 2>err || status=$?
  [ "$status" = 2 ] && grep -q "^usage: crane-snapshot" err || fail "'$args': status $status, $(cat err)"
done
status=0; bounded $limit "$snap" --out /nonexistent/folder/s.png >/dev/null 2>err || status=$?
[ "$status" = 1 ] && grep -q "cannot write /nonexistent/folder/s.png" err || fail "unwritable output: $status"

# Ten thousand random key bytes (fixed seed; no NUL, which argv cannot
# carry, and no Escape, which would end the replay early), put in KEYS.
# printf -v keeps every byte, newlines too, and starts no process: a
# command substitution per byte, two processes each, took nearly two
# minutes.
random_keys() {
  RANDOM=$1
  local byte hex char
  KEYS=
  for ((i = 0; i < $2; i++)); do
    byte=$((RANDOM % 254 + 1)); [ "$byte" -ge 27 ] && byte=$((byte + 1))
    printf -v hex %02x "$byte"
    printf -v char "\\x$hex"
    KEYS+=$char
  done
}
# Under AddressSanitizer freed blocks wait in a quarantine that grows the
# resident set by itself; it is turned off for this measurement.
peak_kib() {
  ASAN_OPTIONS="${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}quarantine_size_mb=0" \
    bounded $limit /usr/bin/time -f %M "$snap" --size 64x48 --keys "$1" --out s.png 2>&1 >/dev/null | tail -n 1
}
random_keys 7 100
few=$(peak_kib "$KEYS") || fail "100 random keys: $few"
random_keys 7 10000
many=$(peak_kib "$KEYS") || fail "10000 random keys: $many"
echo "peak resident memory: $few KiB after 100 keys, $many KiB after 10000 keys"
[ "$many" -le $((few + 8192)) ] || fail "resident memory grew from $few KiB to $many KiB"
echo "abuse test passed"
