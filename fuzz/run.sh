#!/usr/bin/env bash
# fuzz/run.sh SECONDS [TARGET...]
#
# Builds the fuzz targets (clang-14, in $FUZZ_BUILD, default build-fuzz) if
# needed, then runs each target for SECONDS, one after the other, on a
# working corpus: the committed seeds (fuzz/corpus/TARGET) plus whatever
# earlier runs in the same build folder found. The repository is never
# written. Prints per target the executions, exec/s, coverage, corpus and
# crashes; exits 1 when any target found a crash, leak, timeout or
# out-of-memory (its input is kept under $FUZZ_BUILD/fuzz-work/TARGET/).
#
# Environment: FUZZ_BUILD, FUZZ_JOBS (build jobs, default 2), FUZZ_FRESH=1
# (start again from the seeds alone).
set -uo pipefail

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -eq 0 ]; then
  echo "usage: fuzz/run.sh SECONDS [TARGET...]   (targets: loader keys import_dicom import_nifti)" >&2
  exit 2
fi
seconds=$1
shift

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac
work=$build/fuzz-work
mkdir -p "$work"

# --- build ---
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCRANE_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCRANE_BENCH=OFF -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || {
    cat "$work/configure.log" >&2
    echo "fuzz/run.sh: configuring $build failed" >&2
    exit 2
  }
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(loader keys)
  # The importer's targets exist only where ITK was found.
  [[ $(cmake --build "$build" --target help) == *fuzz_import_dicom* ]] && targets+=(import_dicom import_nifti)
fi
binaries=()
for t in "${targets[@]}"; do binaries+=("fuzz_$t"); done
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${binaries[@]}" >"$work/build.log" 2>&1 || {
  cat "$work/build.log" >&2
  echo "fuzz/run.sh: building the fuzz targets failed" >&2
  exit 2
}

# --- run ---
# Per target: libFuzzer's time limit for one input and its largest input.
options_for() {
  case $1 in
    loader) echo "-timeout=20" ;;
    keys) echo "-timeout=20 -max_len=256" ;;
    import_dicom) echo "-timeout=60 -max_len=16384 -dict=$root/fuzz/dicom.dict" ;;
    import_nifti) echo "-timeout=60 -max_len=4096 -dict=$root/fuzz/nifti.dict" ;;
  esac
}

stat_of() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }
corpus_bytes() { find "$1" -type f -printf '%s\n' | awk '{ n += $1 } END { printf "%.0f KB", n / 1024 }'; }

status=0
summary=()
for t in "${targets[@]}"; do
  dir=$work/$t
  [ "${FUZZ_FRESH:-0}" = 1 ] && rm -rf "$dir/corpus"
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
  cp -n "$root/fuzz/corpus/$t"/* "$dir/corpus/" 2>/dev/null
  before=$(find "$dir/artifacts" -type f | wc -l)
  touch "$dir/started"
  log=$dir/last-run.log
  echo "== fuzz_$t: $seconds s on $(find "$dir/corpus" -type f | wc -l) inputs"
  start=$(date +%s)
  # shellcheck disable=SC2046
  CRANE_FUZZ_TMP=$dir/tmp "$build/fuzz_$t" "$dir/corpus" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -print_final_stats=1 -close_fd_mask=3 -artifact_prefix="$dir/artifacts/" $(options_for "$t") >"$log" 2>&1
  rc=$?
  elapsed=$(($(date +%s) - start))
  rm -rf "$dir/tmp"/*
  found=$(($(find "$dir/artifacts" -type f | wc -l) - before))
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  line=$(printf '%-13s %5ss  execs %-9s exec/s %-6s cov %-6s ft %-7s corpus %s files (%s)  crashes %s' "$t" \
    "$elapsed" "$(stat_of number_of_executed_units "$log")" "$(stat_of average_exec_per_sec "$log")" \
    "${cov:-?}" "${ft:-?}" "$(find "$dir/corpus" -type f | wc -l)" "$(corpus_bytes "$dir/corpus")" "$found")
  echo "$line"
  summary+=("$line")
  if [ $rc -ne 0 ] || [ "$found" -gt 0 ]; then
    status=1
    grep -E 'ERROR|SUMMARY|invariant broken|runtime error' "$log" | head -5
    echo "   log: $log"
    find "$dir/artifacts" -type f -newer "$dir/started" | head -5 | sed 's/^/   input: /'
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
[ $status -eq 0 ] || echo "fuzz/run.sh: a target failed; reproduce with: $build/fuzz_TARGET INPUT" >&2
exit $status
