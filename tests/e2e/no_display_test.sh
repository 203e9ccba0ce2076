#!/usr/bin/env bash
# Without an X display the viewer loads as always, then says in one line
# that the display does not open and where the README tells what to do
# instead, and ends with status 1.
source "$(dirname "$0")/lib.sh"
dir="$SCRATCH/head"
mkdir -p "$dir"
make_phantom "$dir"
cd "$dir"

line() { printf 'Impossible d'"'"'ouvrir l'"'"'ecran X "%s" : voir la section "Without a display" du README.md' "$1"; }

# No DISPLAY at all.
status=0
env -u DISPLAY timeout 60 "$BUILD/crane" >out 2>err || status=$?
[ "$status" = 1 ] || fail "no DISPLAY: status $status"
[ "$(cat err)" = "$(printf 'Chargement du crane\n%s' "$(line "")")" ] || fail "no DISPLAY: $(cat -A err)"
[ "$(head -c 94 out)" = "$(printf '%.0s.' $(seq 94))" ] && [ "$(wc -l <out)" = 1 ] || fail "no DISPLAY: the loader's lines differ: $(cat out)"

# A display that does not answer, named by DISPLAY or by -display.
status=0
DISPLAY=:7777 timeout 60 "$BUILD/crane" >out 2>err || status=$?
[ "$status" = 1 ] && [ "$(tail -n 1 err)" = "$(line :7777)" ] || fail "DISPLAY=:7777: status $status, $(cat err)"
status=0
DISPLAY= timeout 60 "$BUILD/crane" 1 -display :7778 >out 2>err || status=$?
[ "$status" = 1 ] || fail "-display :7778: status $status"
[ "$(cat err)" = "$(printf 'Calcul d'"'"'une sphere\n%s' "$(line :7778)")" ] || fail "-display :7778: $(cat err)"
[ ! -s out ] || fail "-display :7778 wrote to standard output: $(cat out)"
echo "no-display test passed"
