#!/usr/bin/env bash
# Installs the Debian 12 packages a job needs. "deps.sh run": what builds the bundle, its
# looks and huebench (the main job). "deps.sh test" or no argument: that and everything the
# tests, sanitizer builds, benchmarks, fuzz targets and format check need as well.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail
set_name=${1:-test}
run_packages=(
  cmake ninja-build g++ make pkg-config binutils
  liblzma-dev
  libpng-dev zlib1g-dev nettle-dev
  libopenimageio-dev
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  python3
  locales
  libopencolorio-dev
  # The GPU tests: PoCL runs the OpenCL back end on the CPU.
  pocl-opencl-icd ocl-icd-opencl-dev clinfo
  # The update check: its HTTPS client, loaded at run time, and the tests' certificates.
  libcurl4 ca-certificates openssl
  # The Windows stage: the MinGW-w64 cross compiler, Wine to run what it builds, and
  # GoogleTest's sources (/usr/src/googletest) to build the test framework with it.
  g++-mingw-w64-x86-64-posix wine64 googletest
)
case "$set_name" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: deps.sh [run|test]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
