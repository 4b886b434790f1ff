#!/usr/bin/env bash
# Cross-builds the Windows tool for x64 and x86 with MinGW-w64 and runs the
# end-to-end suite against each build under Wine, with the stand-in
# avisynth.dll beside the exe. Installs what it needs (Debian packages, only
# where missing; wine32 needs the i386 architecture).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo dpkg --add-architecture i386
  $sudo apt-get update
fi
ensure_packages g++ cmake ninja-build libgtest-dev ffmpeg x264 sox flac mingw-w64 wine wine64 wine32:i386

# The suite itself is the native test binary; only the tool and the
# frame-server libraries are Windows builds.
cmake -S . -B build -G Ninja
cmake --build build -j 2

export WINEDEBUG=-all CLIPSPOUT_TEST_LAUNCHER=wine
prefixes=$(mktemp -d)
trap 'rm -rf "$prefixes"' EXIT
status=0
for target in x86_64:win64 i686:win32; do
  arch=${target%%:*}
  cmake -S . -B "build-win-$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake"
  cmake --build "build-win-$arch" -j 2

  # A fresh prefix per architecture. Its services start here, detached
  # from the tests' pipes, and stay up for the whole run.
  export WINEPREFIX="$prefixes/$arch" WINEARCH=${target#*:}
  mkdir -p "$WINEPREFIX"
  wineserver -p
  wineboot -i </dev/null >/dev/null 2>&1
  echo "== end-to-end suite against the $arch Windows build under Wine"
  CLIPSPOUT_TEST_WINDOWS_BUILD="$PWD/build-win-$arch" \
    ctest --test-dir build -L e2e -j 2 --output-on-failure || status=1
  wineserver -k || true
done
exit $status
