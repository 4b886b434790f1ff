#!/usr/bin/env bash
# Builds clipspout and runs its main job end to end: a script's clip is
# reported, then streamed into x264 through a pipe. Uses the installed
# AviSynth+ when the system has one, else AviSynth+ built from
# ../shared/frameserver, else the stand-in frame server the tests use
# (said so on standard error).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
. scripts/real-frameserver.sh
ensure_packages g++ cmake ninja-build xz-utils libgtest-dev x264

cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target clipspout avisynth_standin

if find_real_frameserver build/real-frameserver; then
  echo "demo: frame server: $REAL_FRAMESERVER_ORIGIN" >&2
  export LD_LIBRARY_PATH="$REAL_FRAMESERVER${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
else
  echo "demo: no AviSynth+ ($REAL_FRAMESERVER_WHY); using the stand-in frame server in build/standin" >&2
  export LD_LIBRARY_PATH="$PWD/build/standin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
fi

mkdir -p demo-out
script=examples/demo.avs
echo "== clipspout info $script"
build/clipspout info "$script"
echo "== clipspout video $script | x264 --demuxer y4m -o demo-out/demo.264 -"
build/clipspout video "$script" | x264 --demuxer y4m --preset veryfast -o demo-out/demo.264 -
ls -l demo-out/demo.264
