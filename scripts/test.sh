#!/usr/bin/env bash
# Installs what the tests need (Debian packages, only where missing), builds,
# and runs the whole suite. With --sanitize the build and the run use
# AddressSanitizer and UndefinedBehaviorSanitizer, in a folder of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/ensure-packages.sh
ensure_packages g++ cmake ninja-build libgtest-dev ffmpeg x264 sox flac

build=build
options=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLIPSPOUT_SANITIZE=ON)
fi
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build" -j 2
ctest --test-dir "$build" -j 2 --output-on-failure
