#!/usr/bin/env bash
# Installs the Debian 12 packages that crane needs:
#   bash scripts/install-deps.sh run    building and running the viewer only
#   bash scripts/install-deps.sh [test] everything: tools, tests, fuzzing
# Does nothing when all are present; without root it names what is missing
# and stops.
set -euo pipefail

# Building the viewer and the phantom, and opening the window.
run_packages=(
  build-essential cmake pkg-config         # compiler, make, CMake (FindGLUT asks pkg-config)
  libglut-dev libgl-dev libglu1-mesa-dev   # the viewer's window
  libpng-dev                               # pictures saved from the window (F12) and by crane-snapshot
  libgl1-mesa-dri libglx-mesa0             # software OpenGL where no other driver is
  libgomp1                                 # OpenMP runtime
)

# Everything else that the tools, the tests and the fuzzers need, on top of
# the run set. One group a line.
test_packages=(
  libgtest-dev libbenchmark-dev            # tests and benchmark
  libinsighttoolkit5-dev zlib1g-dev        # crane-import
  mricron-data                             # a real head scan for the importer's test
  xvfb xauth xdotool x11-utils imagemagick # end-to-end tests of the window
  valgrind time                            # memory checks of the viewer and tools
  clang-14 libclang-rt-14-dev llvm-14 libomp-14-dev  # libFuzzer; ThreadSanitizer with LLVM's OpenMP
)

case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: bash scripts/install-deps.sh [run|test]   (default: test)" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "crane: these Debian packages are missing: ${missing[*]}" >&2
  echo "crane: run this command as root, or install them first with:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "crane: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
