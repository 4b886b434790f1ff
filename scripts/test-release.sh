#!/usr/bin/env bash
# Tests what users download as they get it: runs scripts/release.sh twice
# and holds the two to the same bytes, then
#   - unpacks each Windows zip into an empty folder and runs its
#     clipspout.exe under Wine (x64; x86 where this machine executes 32-bit
#     programs), beside the stand-in avisynth.dll and (x64) AviSynth+'s own:
#     --version says the version, and video writes a stream ffprobe counts
#     whole;
#   - installs the .deb with dpkg -i, runs clipspout --version, man -w
#     clipspout and clipspout video through the real AviSynth+ from PATH,
#     holds it to lintian, and removes it with dpkg -r;
#   - builds the source tarball in an empty folder and runs its unit tests.
# Reuses the Windows builds of scripts/test-windows.sh for the stand-in
# DLLs, and the cached AviSynth+ builds (see scripts/real-frameserver.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
. scripts/real-frameserver.sh
. scripts/can-run-32bit.sh
ensure_packages lintian ffmpeg unzip man-db wine wine64 mingw-w64 cmake ninja-build libgtest-dev
version=$(sed -n 's/^project(clipspout VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"; wineserver -k >/dev/null 2>&1 || true' EXIT
status=0
fail() {
  echo "!! FAILED: $*"
  status=1
}

echo "== release, twice: the same bytes"
scripts/release.sh
cp dist/SHA256SUMS "$work/first"
scripts/release.sh 2>/dev/null
if diff "$work/first" dist/SHA256SUMS; then
  echo "reproducible:"
  sed 's/^/  /' dist/SHA256SUMS
else
  fail "a second run of scripts/release.sh gave other bytes"
fi
for file in "clipspout-$version-windows-x64.zip" "clipspout-$version-windows-x86.zip" \
  "clipspout_${version}_amd64.deb" "clipspout-$version.tar.gz"; do
  [ -s "dist/$file" ] || fail "no dist/$file"
done
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold"

# A script of a few frames, and the frames ffprobe counts of what video
# made of it.
printf 'BlankClip(length=24, width=64, height=48, pixel_type="YV12", fps=24)\n' >"$work/clip.avs"
frames_of() {
  ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$1"
}

export WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
run_x86=yes
can_run_32bit || run_x86=no
[ -x /usr/lib/wine/wine ] && dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" ||
  run_x86=no
for leg in x64:x86_64:win64:/usr/lib/wine/wine64 x86:i686:win32:/usr/lib/wine/wine; do
  IFS=: read -r arch triple winearch loader <<<"$leg"
  if [ "$arch" = x86 ] && [ $run_x86 = no ]; then
    echo "!! SKIPPED: the x86 zip under Wine: this machine cannot execute 32-bit programs, or has no Wine 32-bit loader"
    continue
  fi
  echo "== clipspout-$version-windows-$arch.zip, unpacked into an empty folder, under Wine"
  export WINEPREFIX="$work/prefix-$arch" WINEARCH=$winearch WINELOADER=$loader
  mkdir -p "$WINEPREFIX"
  wineserver -p
  "$loader" wineboot -i </dev/null >/dev/null 2>&1
  standin="build-win-$triple/standin/avisynth.dll"
  if [ ! -f "$standin" ]; then
    cmake -S . -B "build-win-$triple" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$triple.cmake" >/dev/null
    cmake --build "build-win-$triple" --target avisynth_standin >/dev/null
  fi
  servers=("stand-in:$standin")
  if [ "$arch" = x64 ]; then
    if find_real_frameserver_windows "$work/avisynth-dll"; then
      servers+=("AviSynth+:$REAL_FRAMESERVER/*.dll")
    else
      fail "no AviSynth+ DLL: $REAL_FRAMESERVER_WHY"
    fi
  fi
  for server in "${servers[@]}"; do
    what=${server%%:*} dlls=${server#*:}
    folder="$work/unzip-$arch-${what%%+*}"
    mkdir -p "$folder"
    unzip -q "dist/clipspout-$version-windows-$arch.zip" -d "$folder"
    tool="$folder/clipspout-$version-windows-$arch/clipspout.exe"
    # shellcheck disable=SC2086
    cp $dlls "$(dirname "$tool")/"
    said=$("$loader" "$tool" --version 2>/dev/null | tr -d '\r' | sed -n 1p)
    [ "$said" = "clipspout $version" ] || fail "$arch with the $what DLL: --version says \"$said\""
    "$loader" "$tool" -o "$work/$arch.y4m" video "$work/clip.avs" 2>"$work/$arch.err" ||
      fail "$arch with the $what DLL: video failed: $(tr -d '\r' <"$work/$arch.err")"
    counted=$(frames_of "$work/$arch.y4m")
    [ "$counted" = 24 ] || fail "$arch with the $what DLL: ffprobe counts $counted frames of 24"
    echo "$arch with the $what DLL: $said, 24 frames counted"
  done
  wineserver -k >/dev/null 2>&1 || true
done

echo "== clipspout_${version}_amd64.deb: dpkg -i, use from PATH, lintian, dpkg -r"
if find_real_frameserver build/real-frameserver; then
  dpkg -i "dist/clipspout_${version}_amd64.deb" >/dev/null
  [ "$(command -v clipspout)" = /usr/bin/clipspout ] || fail "the package's clipspout is not the one on PATH"
  said=$(clipspout --version 2>/dev/null | sed -n 1p)
  [ "$said" = "clipspout $version" ] || fail "the package's --version says \"$said\""
  [ "$(man -w clipspout)" = /usr/share/man/man1/clipspout.1.gz ] || fail "man -w clipspout: $(man -w clipspout 2>&1)"
  clipspout --frameserver="$REAL_FRAMESERVER" -o "$work/deb.y4m" video "$work/clip.avs" 2>/dev/null ||
    fail "the package's clipspout video through AviSynth+ failed"
  [ "$(frames_of "$work/deb.y4m")" = 24 ] || fail "the package's stream is not 24 frames"
  echo "installed: $said, $(man -w clipspout), a stream of 24 frames through $REAL_FRAMESERVER_ORIGIN"
  lint=$(lintian "dist/clipspout_${version}_amd64.deb" 2>&1 | grep -v "running with root privileges" || true)
  echo "lintian: ${lint:-no tags}"
  ! grep -q '^E:' <<<"$lint" || fail "lintian reports errors"
  dpkg -r clipspout >/dev/null
  [ ! -e /usr/bin/clipspout ] || fail "dpkg -r left /usr/bin/clipspout"
else
  fail "no real AviSynth+ for the package's test: $REAL_FRAMESERVER_WHY"
fi

echo "== clipspout-$version.tar.gz: builds in an empty folder and passes its unit tests"
mkdir "$work/tarball"
tar -xzf "dist/clipspout-$version.tar.gz" -C "$work/tarball"
if cmake -S "$work/tarball/clipspout-$version" -B "$work/tarball/build" -G Ninja >/dev/null &&
  cmake --build "$work/tarball/build" -j 2 --target unit_tests >/dev/null; then
  "$work/tarball/build/tests/unit_tests" --gtest_brief=1 | tail -1 || fail "the tarball's unit tests failed"
else
  fail "the tarball does not build"
fi

[ $status -eq 0 ] && echo "== release artefacts: all pass"
exit $status
