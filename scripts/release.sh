#!/usr/bin/env bash
# Builds what users download, from the checkout alone (its HEAD commit),
# into dist/:
#   clipspout-X.Y.Z-windows-x64.zip, clipspout-X.Y.Z-windows-x86.zip
#       one folder of the zip's name: clipspout.exe (static), LICENSE,
#       CHANGELOG.md, README.md and the man page as HTML
#   clipspout_X.Y.Z_amd64.deb
#       /usr/bin/clipspout, its man page, /usr/share/doc/clipspout
#   clipspout-X.Y.Z.tar.gz     the source (git archive)
#   SHA256SUMS
# X.Y.Z is project(VERSION) in CMakeLists.txt. The files are reproducible:
# every time and date in them is the commit's (SOURCE_DATE_EPOCH), archive
# members are sorted, paths of the build folder are mapped away, and the
# PE files carry no link time; two runs give the same bytes.
#   scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages git g++ cmake ninja-build binutils mingw-w64 zip mandoc dpkg-dev xz-utils

version=$(sed -n 's/^project(clipspout VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 2; }
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "release: the checkout has uncommitted changes; the release is HEAD ($(git rev-parse --short HEAD)) without them" >&2
export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export TZ=UTC LC_ALL=C.UTF-8
stamp="@$SOURCE_DATE_EPOCH"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dist=$PWD/dist
rm -rf "$dist"
mkdir -p "$dist"

# The source as committed: what the tarball holds is what is built.
git archive --format=tar.gz --prefix="clipspout-$version/" -o "$dist/clipspout-$version.tar.gz" HEAD
src=$work/clipspout-$version
tar -xzf "$dist/clipspout-$version.tar.gz" -C "$work"

# Builds the tool alone into $work/$1 (more cmake arguments after it), with
# the folders' paths mapped to fixed names.
build() {
  local dir=$work/$1
  shift
  cmake -S "$src" -B "$dir" -G Ninja -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$src=clipspout-$version -ffile-prefix-map=$dir=build" "$@" >/dev/null
  cmake --build "$dir" --target clipspout >/dev/null
}
build linux
build win-x64 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-x86_64.cmake" -DCMAKE_EXE_LINKER_FLAGS=-Wl,--no-insert-timestamp
build win-x86 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" -DCMAKE_EXE_LINKER_FLAGS=-Wl,--no-insert-timestamp

# Every member of a tree: the commit's time, sorted by name.
settle_times() {
  find "$1" -exec touch -h -d "$stamp" {} +
}

# The man page as HTML, for the zips.
mandoc -T html -O style=none "$work/linux/clipspout.1" >"$work/clipspout.1.html"

for arch in x64 x86; do
  name=clipspout-$version-windows-$arch
  folder=$work/zip/$name
  mkdir -p "$folder"
  cp "$work/win-$arch/clipspout.exe" "$folder/"
  # The tool loads the frame server at run time; nothing to strip but
  # the symbols.
  "$([ $arch = x64 ] && echo x86_64 || echo i686)-w64-mingw32-strip" "$folder/clipspout.exe"
  cp "$src/LICENSE" "$src/CHANGELOG.md" "$src/README.md" "$work/clipspout.1.html" "$folder/"
  settle_times "$folder"
  (cd "$work/zip" && find "$name" | sort | zip -X -q -@ "$dist/$name.zip")
done

# The Debian package.
root=$work/deb
install -D -m 755 "$work/linux/clipspout" "$root/usr/bin/clipspout"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/clipspout"
install -d "$root/usr/share/man/man1" "$root/usr/share/doc/clipspout"
gzip -9n <"$work/linux/clipspout.1" >"$root/usr/share/man/man1/clipspout.1.gz"
{
  echo "clipspout ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version; what a user notices is in the project's CHANGELOG.md."
  echo
  echo " -- The clipspout authors <clipspout@users.noreply.github.com>  $(date -R -d "$stamp")"
} | gzip -9n >"$root/usr/share/doc/clipspout/changelog.gz"
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: clipspout"
  echo
  echo "Files: *"
  echo "Copyright: 2026 The clipspout authors"
  echo "License: Expat"
  echo
  echo "License: Expat"
  sed -n '/^Permission/,$p' "$src/LICENSE" | sed 's/^$/./; s/^/ /'
} >"$root/usr/share/doc/clipspout/copyright"
chmod 644 "$root/usr/share/doc/clipspout/"*
# dpkg-shlibdeps reads the libraries' own symbols files: the dependencies
# are what the binary needs, at the versions it needs.
mkdir -p "$work/shlibs/debian"
printf 'Source: clipspout\n\nPackage: clipspout\nArchitecture: amd64\n' >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$root/usr/bin/clipspout" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
mkdir -p "$root/DEBIAN"
cat >"$root/DEBIAN/control" <<EOF
Package: clipspout
Version: $version
Architecture: amd64
Maintainer: The clipspout authors <clipspout@users.noreply.github.com>
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Suggests: x264, x265, ffmpeg, flac
Section: video
Priority: optional
Description: write an AviSynth script's audio or video to a pipe
 clipspout has the AviSynth+ frame server evaluate a script into a clip and
 writes the clip as WAV, YUV4MPEG2 or one Matroska stream to standard
 output, a file or an encoder it starts, or reports what the clip is. It
 loads AviSynth+ (libavisynth.so) at run time.
EOF
(cd "$root" && find usr -type f | sort | xargs md5sum >DEBIAN/md5sums)
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
settle_times "$root"
dpkg-deb --root-owner-group -Zxz --build "$root" "$dist/clipspout_${version}_amd64.deb" >/dev/null

(cd "$dist" && sha256sum -- *.zip *.deb *.tar.gz >SHA256SUMS)
echo "release: clipspout $version, from $(git rev-parse --short HEAD), in $dist:" >&2
(cd "$dist" && ls -l --time-style=+ -- * | awk '{ print "  " $NF " (" $5 " bytes)" }') >&2
