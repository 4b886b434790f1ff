#!/usr/bin/env bash
# Builds clipspout and runs its main job end to end, as a user does: ffmpeg
# makes a short H.264 + AAC film, a script opens it through the FFMS2
# source plugin, and clipspout reports the clip, pipes its video into x264
# and its audio into flac. Uses the installed AviSynth+ when the system has
# one, else AviSynth+ built from ../shared/frameserver, and the same for
# FFMS2 (see scripts/real-frameserver.sh). Where either is missing it says
# why on standard error and streams examples/demo.avs instead: through
# AviSynth+ where only the plugin is missing, else through the stand-in
# frame server the tests use.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
. scripts/real-frameserver.sh
ensure_packages g++ binutils cmake ninja-build xz-utils libgtest-dev ffmpeg x264 flac \
  autoconf automake libtool pkg-config make libavformat-dev libavcodec-dev libswscale-dev libavutil-dev \
  libswresample-dev zlib1g-dev

cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target clipspout avisynth_standin

mkdir -p demo-out
if find_real_frameserver build/real-frameserver; then
  echo "demo: frame server: $REAL_FRAMESERVER_ORIGIN" >&2
  export LD_LIBRARY_PATH="$REAL_FRAMESERVER${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  real=yes
else
  echo "demo: no AviSynth+ ($REAL_FRAMESERVER_WHY); using the stand-in frame server in build/standin" >&2
  export LD_LIBRARY_PATH="$PWD/build/standin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  real=no
fi

if [ $real = yes ] && find_ffms2_plugin build/real-frameserver; then
  echo "demo: source plugin: $FFMS2_ORIGIN" >&2
  film="$PWD/demo-out/film.mp4"
  echo "== ffmpeg makes $film: 10 s of 1280x720 H.264 at 24000/1001 fps with 48 kHz stereo AAC"
  ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=24000/1001:duration=10 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 -ac 2 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac "$film"
  script=demo-out/film.avs
  cat >"$script" <<EOF
LoadPlugin("$FFMS2_PLUGIN")
AudioDub(FFVideoSource("$film"), FFAudioSource("$film"))
# AAC decodes to float samples; flac takes integer ones.
ConvertAudioTo24bit()
EOF
  echo "== $script"
  cat "$script"
  echo "== clipspout info $script"
  build/clipspout info "$script"
  echo "== clipspout video $script | x264 --demuxer y4m -o demo-out/film.264 -"
  build/clipspout video "$script" | x264 --demuxer y4m --preset veryfast -o demo-out/film.264 -
  echo "== clipspout audio $script | flac -o demo-out/film.flac -"
  build/clipspout audio "$script" | flac --silent -f -o demo-out/film.flac -
  ls -l demo-out/film.264 demo-out/film.flac
  exit 0
fi

[ $real = no ] || echo "demo: no FFMS2 plugin ($FFMS2_WHY); streaming examples/demo.avs instead" >&2
script=examples/demo.avs
echo "== clipspout info $script"
build/clipspout info "$script"
echo "== clipspout video $script | x264 --demuxer y4m -o demo-out/demo.264 -"
build/clipspout video "$script" | x264 --demuxer y4m --preset veryfast -o demo-out/demo.264 -
ls -l demo-out/demo.264
