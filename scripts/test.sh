#!/usr/bin/env bash
# Installs what the tests need (Debian packages, only where missing), builds,
# and runs the whole suite: unit tests, end-to-end tests against the
# stand-in frame server, the real-server group against the AviSynth+ 3.7.5
# release and the real-media group (files ffmpeg makes, opened through
# FFMS2) when they can be found (see scripts/real-frameserver.sh); then the
# real-server group again against the other versions users have (3.7.3,
# 3.6.1) and the development snapshot. Where a group cannot run, one line
# says which and why. The film-length audio test (label
# "film") and the chunked encode over ssh logins to an sshd of its own
# (label "ssh") are part of it, a minute each. With --sanitize the build and
# the run use AddressSanitizer and UndefinedBehaviorSanitizer, in a folder of
# their own, and leave those two out. With --tsan the build uses
# ThreadSanitizer, for the writer thread beside the main one, and runs the
# end-to-end group against the stand-in alone (a real AviSynth+ built
# without it would show races that are not there).
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/ensure-packages.sh
. scripts/real-frameserver.sh
ensure_packages g++ binutils cmake ninja-build xz-utils libgtest-dev ffmpeg x264 x265 svt-av1 mpv sox flac wavpack mkvtoolnix parallel openssh-server openssh-client rsync opus-tools gnuplot-nox \
  autoconf automake libtool pkg-config make libavformat-dev libavcodec-dev libswscale-dev libavutil-dev \
  libswresample-dev zlib1g-dev

build=build
options=()
selection=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLIPSPOUT_SANITIZE=ON)
  # The film-length track, the chunked encode over ssh and the documents'
  # recipes prove the readers and the recipes, not memory safety: once,
  # natively, is enough. The memory meter sees would be the sanitizers'.
  selection=(-LE 'film|ssh|memory|recipes')
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
elif [ "${1:-}" = "--tsan" ]; then
  build=build-tsan
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLIPSPOUT_TSAN=ON)
  selection=(-L e2e)
fi
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build" -j 2

found=0
if [ "${1:-}" = "--tsan" ]; then
  found=1
  REAL_FRAMESERVER_WHY="the ThreadSanitizer leg runs against the stand-in alone"
else
  find_real_frameserver "$build/real-frameserver" || found=$?
fi
case $found in
  0)
    export CLIPSPOUT_TEST_REAL_FRAMESERVER=$REAL_FRAMESERVER
    echo "== real-server group: against $REAL_FRAMESERVER_ORIGIN" ;;
  1)
    unset CLIPSPOUT_TEST_REAL_FRAMESERVER
    echo "!! SKIPPED: the real-server group: $REAL_FRAMESERVER_WHY" ;;
  *)
    echo "real-server group: $REAL_FRAMESERVER_WHY" >&2
    exit 1 ;;
esac

unset CLIPSPOUT_TEST_FFMS2
if [ $found -ne 0 ]; then
  echo "!! SKIPPED: the real-media group: it needs a real AviSynth+ (see above)"
else
  ffms2=0
  find_ffms2_plugin "$build/real-frameserver" || ffms2=$?
  case $ffms2 in
    0)
      export CLIPSPOUT_TEST_FFMS2=$FFMS2_PLUGIN
      echo "== real-media group: through $FFMS2_ORIGIN" ;;
    1)
      echo "!! SKIPPED: the real-media group: $FFMS2_WHY" ;;
    *)
      echo "real-media group: $FFMS2_WHY" >&2
      exit 1 ;;
  esac
fi
# A frame that the real server cannot deliver, for the tests of failing
# frames: the fault plugin, built against the release's header.
unset CLIPSPOUT_TEST_FAULT_PLUGIN
if [ $found -eq 0 ]; then
  if plugin=$(build_fault_plugin "$build/fault-plugin"); then
    export CLIPSPOUT_TEST_FAULT_PLUGIN=$plugin
  else
    echo "!! SKIPPED: the real server's failing frames: the fault plugin could not be built"
  fi
fi
# A second release beside the first (3.7.3, which the versions leg below
# builds too), for the test of two side by side, each loaded by its folder.
unset CLIPSPOUT_TEST_SECOND_FRAMESERVER
if [ $found -eq 0 ] && [ -z "${1:-}" ]; then
  second=0
  find_real_frameserver "$build/real-frameserver-3.7.3" 3.7.3 --unoptimized || second=$?
  case $second in
    0) export CLIPSPOUT_TEST_SECOND_FRAMESERVER=$REAL_FRAMESERVER ;;
    1) echo "!! SKIPPED: two releases side by side: $REAL_FRAMESERVER_WHY" ;;
    *) echo "two releases side by side: $REAL_FRAMESERVER_WHY" >&2
       exit 1 ;;
  esac
fi
# A test that cannot run here for a reason of the machine's (no sshd) says
# so in this file; each line is shown, loudly.
export CLIPSPOUT_TEST_SKIP_LOG="$PWD/$build/skipped.log"
: >"$CLIPSPOUT_TEST_SKIP_LOG"
status=0
ctest --test-dir "$build" -j 2 --output-on-failure "${selection[@]}" || status=$?

# The real-server group on the other versions, natively (the sanitizers
# have had the release users run), each built without optimization to keep
# the run short: the leg proves what each version gives, not its speed (so
# the memory meter sees, label "memory", is the main leg's alone).
if [ -z "${1:-}" ]; then
  for version in 3.7.3 3.6.1 snapshot; do
    found=0
    find_real_frameserver "$build/real-frameserver-$version" "$version" --unoptimized || found=$?
    case $found in
      0)
        echo "== real-server group: against $REAL_FRAMESERVER_ORIGIN"
        CLIPSPOUT_TEST_REAL_FRAMESERVER=$REAL_FRAMESERVER CLIPSPOUT_TEST_SECOND_FRAMESERVER= \
          ctest --test-dir "$build" -L real -j 2 \
          --output-on-failure || status=1 ;;
      1)
        echo "!! SKIPPED: the real-server group on AviSynth+ $version: $REAL_FRAMESERVER_WHY" ;;
      *)
        echo "real-server group on AviSynth+ $version: $REAL_FRAMESERVER_WHY" >&2
        status=1 ;;
    esac
  done
fi
sed 's/^/!! SKIPPED: /' "$CLIPSPOUT_TEST_SKIP_LOG"
exit $status
