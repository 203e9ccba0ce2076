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
# Aborts by an assertion inside GDCM or ITK are listed apart (see below).
#
# Environment: FUZZ_BUILD, FUZZ_JOBS (build jobs, default 2), FUZZ_FRESH=1
# (start again from the seeds alone), FUZZ_STRICT=1 (GDCM's and ITK's
# aborts fail the run too).
set -uo pipefail

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -eq 0 ]; then
  echo "usage: fuzz/run.sh SECONDS [TARGET...]   (targets: loader keys import_dicom import_nifti import_nrrd import_metaimage)" >&2
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
  [[ $(cmake --build "$build" --target help) == *fuzz_import_dicom* ]] && targets+=(import_dicom import_nifti import_nrrd import_metaimage)
fi
binaries=()
for t in "${targets[@]}"; do binaries+=("fuzz_$t"); done
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${binaries[@]}" >"$work/build.log" 2>&1 || {
  cat "$work/build.log" >&2
  echo "fuzz/run.sh: building the fuzz targets failed" >&2
  exit 2
}

# --- run ---
# Symbolized stack traces where only LLVM 14's own symbolizer is installed.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && ! command -v llvm-symbolizer >/dev/null &&
  command -v llvm-symbolizer-14 >/dev/null; then
  export ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-14)
fi

# The keys target allocates small images and lists at every key: with
# AddressSanitizer's default 256 MB quarantine every allocation lands on
# fresh pages, and page faults took a quarter of its time. A freed block
# still waits behind 16 MB of newer ones, far more than one input allocates.
asan_options_for() {
  case $1 in
    keys) echo "quarantine_size_mb=16${ASAN_OPTIONS:+:$ASAN_OPTIONS}" ;;
    *) echo "${ASAN_OPTIONS:-}" ;;
  esac
}

# Leaks inside ITK's and GDCM's own libraries are theirs (lsan.supp).
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# Per target: libFuzzer's time limit for one input and its largest input.
options_for() {
  case $1 in
    loader) echo "-timeout=20 -entropic_scale_per_exec_time=1" ;;
    keys) echo "-timeout=20 -max_len=256 -entropic_scale_per_exec_time=1" ;;
    import_dicom) echo "-timeout=60 -max_len=16384 -dict=$root/fuzz/dicom.dict" ;;
    import_nifti) echo "-timeout=60 -max_len=4096 -dict=$root/fuzz/nifti.dict" ;;
    import_nrrd) echo "-timeout=60 -max_len=4096 -dict=$root/fuzz/nrrd.dict" ;;
    import_metaimage) echo "-timeout=60 -max_len=4096 -dict=$root/fuzz/metaimage.dict" ;;
  esac
}

# The importer's targets run in libFuzzer's fork mode, which goes on after
# a crash: Debian builds GDCM and ITK with assertions, and an assertion
# that fails inside them aborts on inputs the importer does not screen.
# Those aborts are theirs: they are listed apart and fail the run only
# with FUZZ_STRICT=1. Any other crash, leak, timeout or out-of-memory fails it.
forks() { [[ $1 == import_* ]]; }

# "library" when the input aborts in an assertion inside GDCM's or ITK's
# libraries, else "ours".
triage() {
  local out
  case $(basename "$2") in crash-*) ;; *) echo ours; return ;; esac
  out=$(timeout 300 "$build/fuzz_$1" -close_fd_mask=0 "$2" 2>&1)
  if grep -q "Assertion .* failed" <<<"$out" &&
    grep -A1 -E '^ +#[0-9]+ .* in __assert_fail ' <<<"$out" | tail -1 | grep -qE '/lib[^ ]*/lib(gdcm|ITK|itk)'; then
    echo library
  else
    echo ours
  fi
}

# The folder a target makes its files in, removed after its run. The
# loader target writes 12 MB of slices per input on disk: on tmpfs that
# costs a fraction of what a disk file system does. Elsewhere, the build.
scratch_for() {
  local shm=/dev/shm free_kb
  free_kb=$(df -Pk "$shm" 2>/dev/null | awk 'NR == 2 { print $4 }')
  if [ -d "$shm" ] && [ -w "$shm" ] && [ "${free_kb:-0}" -ge 262144 ] &&
    [ "$(stat -f -c %T "$shm" 2>/dev/null)" = tmpfs ]; then
    mktemp -d "$shm/crane-fuzz-$1.XXXXXX"
  else
    mkdir -p "$work/$1/tmp" && mktemp -d "$work/$1/tmp/run.XXXXXX"
  fi
}

stat_of() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }
corpus_bytes() { find "$1" -type f -printf '%s\n' | awk '{ n += $1 } END { printf "%.0f KB", n / 1024 }'; }

status=0
summary=()
for t in "${targets[@]}"; do
  dir=$work/$t
  [ "${FUZZ_FRESH:-0}" = 1 ] && rm -rf "$dir/corpus"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  scratch=$(scratch_for "$t")
  cp -n "$root/fuzz/corpus/$t"/* "$dir/corpus/" 2>/dev/null
  touch "$dir/started"
  log=$dir/last-run.log
  echo "== fuzz_$t: $seconds s on $(find "$dir/corpus" -type f | wc -l) inputs"
  mode=()
  forks "$t" && mode=(-fork=1 -ignore_crashes=1)
  start=$(date +%s)
  # shellcheck disable=SC2046
  ASAN_OPTIONS=$(asan_options_for "$t") CRANE_FUZZ_TMP=$scratch "$build/fuzz_$t" "$dir/corpus" "${mode[@]}" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -print_final_stats=1 -close_fd_mask=3 -artifact_prefix="$dir/artifacts/" \
    $(options_for "$t") >"$log" 2>&1
  rc=$?
  elapsed=$(($(date +%s) - start))
  rm -rf "${scratch:?}"

  # Figures: libFuzzer's final statistics, or in fork mode its last line.
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  execs=$(stat_of number_of_executed_units "$log")
  [ -n "$execs" ] || execs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")
  rate=$(stat_of average_exec_per_sec "$log")
  [ -n "$rate" ] || rate=$(awk -v n="${execs:-0}" -v s="$elapsed" 'BEGIN { printf "%.1f", s ? n / s : 0 }')

  ours=() library=()
  while IFS= read -r input; do
    if [ "$(triage "$t" "$input")" = library ]; then library+=("$input"); else ours+=("$input"); fi
  done < <(find "$dir/artifacts" -type f -newer "$dir/started" | sort)
  line=$(printf '%-13s %5ss  execs %-8s exec/s %-6s cov %-6s ft %-7s corpus %s files (%s)  crashes %s' "$t" \
    "$elapsed" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$(find "$dir/corpus" -type f | wc -l)" \
    "$(corpus_bytes "$dir/corpus")" "${#ours[@]}")
  [ ${#library[@]} -eq 0 ] || line+="  (+${#library[@]} aborts inside GDCM/ITK)"
  echo "$line"
  summary+=("$line")
  for input in "${library[@]}"; do
    echo "   GDCM/ITK abort: $input"
    echo "     $(timeout 300 "$build/fuzz_$t" -close_fd_mask=0 "$input" 2>&1 | grep -m1 -o 'Assertion .* failed')"
  done
  if [ ${#ours[@]} -gt 0 ] || { [ $rc -ne 0 ] && [ ${#library[@]} -eq 0 ]; } ||
    { [ ${#library[@]} -gt 0 ] && [ "${FUZZ_STRICT:-0}" = 1 ]; }; then
    status=1
    grep -E 'ERROR|SUMMARY|invariant broken|runtime error' "$log" | head -5
    echo "   log: $log"
    for input in "${ours[@]}"; do echo "   input: $input"; done
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
[ $status -eq 0 ] || echo "fuzz/run.sh: a target failed; reproduce with: $build/fuzz_TARGET INPUT" >&2
exit $status
