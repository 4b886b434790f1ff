#!/usr/bin/env bash
# Builds clipspout, the stand-in frame server and the benchmark helpers in
# build-bench/, then measures the tool against the baseline writer, with the
# stand-in and with a real AviSynth+ (scripts/real-frameserver.sh), and a
# whole encode into x264 against its parts (bench/encode.py, with FFMS2):
#   bench/run.sh [--rounds N] [--scale F]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages g++ cmake ninja-build libgtest-dev time python3 ffmpeg x264
cmake -S . -B build-bench -G Ninja -DCLIPSPOUT_BENCH=ON >/dev/null
cmake --build build-bench -j 2 --target clipspout avisynth_standin bench_baseline bench_discard bench_fetch >/dev/null
# Against the stand-in, and against a real AviSynth+ where one is found.
. scripts/real-frameserver.sh
real=()
if find_real_frameserver build-bench/real-frameserver; then
  real=(--real "$REAL_FRAMESERVER")
else
  echo "bench: stand-in only: $REAL_FRAMESERVER_WHY" >&2
fi
python3 bench/bench.py --build build-bench "${real[@]}" "$@"
if [ ${#real[@]} -eq 0 ]; then
  echo "bench: no whole encode: it needs a real AviSynth+" >&2
elif find_ffms2_plugin build-bench/real-frameserver; then
  python3 bench/encode.py --build build-bench --real "$REAL_FRAMESERVER" --ffms2 "$FFMS2_PLUGIN"
else
  echo "bench: no whole encode: $FFMS2_WHY" >&2
fi
