#!/usr/bin/env bash
# Cross-builds the Windows tool for x64 and x86 with MinGW-w64 and runs the
# end-to-end suite against each build under Wine, with the stand-in
# avisynth.dll beside the exe; then the real-server group against the x64
# build with AviSynth+'s own avisynth.dll beside it (see
# scripts/real-frameserver.sh). Installs what it needs (Debian packages,
# only where missing).
#
# Each leg runs Wine's own loader for its architecture, never the `wine`
# wrapper: once wine32 is installed the wrapper picks the 32-bit loader for
# everything. Some machines cannot execute 32-bit programs at all; there the
# x86 exe is still built, and its run is skipped with one line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
. scripts/real-frameserver.sh

. scripts/can-run-32bit.sh

ensure_packages g++ binutils cmake ninja-build xz-utils libgtest-dev ffmpeg x264 x265 svt-av1 mpv mkvtoolnix sox flac wavpack parallel mingw-w64 wine wine64
run_x86=yes
x86_why=""
if ! can_run_32bit; then
  run_x86=no
  x86_why="this machine cannot execute 32-bit programs (Exec format error)"
elif ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo dpkg --add-architecture i386
    apt_update_with_retries "$sudo"
  fi
  # Wine's 32-bit loader comes from Debian's i386 packages, which must match
  # the amd64 ones version for version: where the mirror cannot give them,
  # the leg cannot run here, and says so.
  if ! ensure_packages wine32:i386; then
    run_x86=no
    x86_why="Wine's 32-bit loader (wine32:i386) could not be installed from the package mirror"
  fi
fi

# The suite itself is the native test binary; only the tool and the
# frame-server libraries are Windows builds.
cmake -S . -B build -G Ninja
cmake --build build -j 2

# Wine takes file names from the locale: without a UTF-8 one it cannot open
# a non-ASCII name at all. C.UTF-8 is on every machine and gives Windows
# programs the Western ANSI code page 1252.
export WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
prefixes=$(mktemp -d)
trap 'rm -rf "$prefixes"' EXIT
status=0

# Wine's own plumbing fails now and then (a "wine client error" line, or
# status 1 with no output at all); the harness tries such a launch once
# more and logs it here. Every retry of the run is shown, loudly.
export CLIPSPOUT_TEST_RETRY_LOG="$prefixes/wine-retries.log"
: >"$CLIPSPOUT_TEST_RETRY_LOG"
report_retries() {
  local count
  count=$(wc -l <"$CLIPSPOUT_TEST_RETRY_LOG")
  echo "== Wine retries in $1: $count"
  cat "$CLIPSPOUT_TEST_RETRY_LOG"
  : >"$CLIPSPOUT_TEST_RETRY_LOG"
}
# Both builds first: each leg's tests load the other's stand-in DLL too (a
# library of the other word size).
for arch in x86_64 i686; do
  cmake -S . -B "build-win-$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake"
  cmake --build "build-win-$arch" -j 2
done
for target in x86_64:win64:/usr/lib/wine/wine64 i686:win32:/usr/lib/wine/wine; do
  IFS=: read -r arch winearch loader <<<"$target"

  if [ "$arch" = i686 ] && [ "$run_x86" = no ]; then
    echo "!! SKIPPED: the x86 Windows suite: $x86_why; the x86 exe was built, not run"
    continue
  fi

  # A fresh prefix per architecture. Its services start here, detached
  # from the tests' pipes, and stay up for the whole run.
  export WINEPREFIX="$prefixes/$arch" WINEARCH=$winearch WINELOADER=$loader
  mkdir -p "$WINEPREFIX"
  wineserver -p
  "$loader" wineboot -i </dev/null >/dev/null 2>&1
  echo "== end-to-end suite against the $arch Windows build under Wine"
  CLIPSPOUT_TEST_WINDOWS_BUILD="$PWD/build-win-$arch" CLIPSPOUT_TEST_LAUNCHER="$loader" \
    ctest --test-dir build -L e2e -j 2 --output-on-failure || status=1
  report_retries "the $arch end-to-end suite"

  # The real AviSynth+ for Windows is built for x64 only.
  if [ "$arch" = x86_64 ]; then
    found=0
    find_real_frameserver_windows "$PWD/build-win-$arch/real-frameserver" || found=$?
    if [ $found -eq 0 ]; then
      cp "build-win-$arch/clipspout.exe" "$REAL_FRAMESERVER/"
      echo "== real-server group against the $arch Windows build under Wine: $REAL_FRAMESERVER_ORIGIN"
      CLIPSPOUT_TEST_WINDOWS_BUILD="$PWD/build-win-$arch" CLIPSPOUT_TEST_LAUNCHER="$loader" \
        CLIPSPOUT_TEST_REAL_FRAMESERVER="$REAL_FRAMESERVER" \
        ctest --test-dir build -L real -j 2 --output-on-failure || status=1
      report_retries "the $arch real-server group"
    elif [ $found -eq 1 ]; then
      echo "!! SKIPPED: the Windows real-server group: $REAL_FRAMESERVER_WHY"
    else
      echo "Windows real-server group: $REAL_FRAMESERVER_WHY" >&2
      status=1
    fi
  fi
  # Stopped and waited for, so that nothing of this prefix outlives it.
  wineserver -k || true
  wineserver -w || true
done
exit $status
