# Sourced by the scripts beside it: finds a real AviSynth+ and the FFMS2
# source plugin for the tests, the demo and the benchmark.
#
#   find_real_frameserver FOLDER [VERSION [--unoptimized]]
#
# VERSION is the AviSynth+ to find: 3.7.5 (the default: the release users
# run), 3.7.3 or 3.6.1 (older releases still installed), or snapshot (the
# development snapshot taken after 3.7.5, which shows the next release
# coming). For the default it looks, in this order, for
#   1. the library named by CLIPSPOUT_AVISYNTH_LIBRARY (a libavisynth.so file),
#   2. a system-installed libavisynth.so (as the dynamic linker finds it),
#   3. the AviSynth+ source in ../shared/frameserver beside the clone, which
#      it builds once into a cache outside the clone
#      (${XDG_CACHE_HOME:-~/.cache}/clipspout/avisynthplus-VERSION, or under
#      CLIPSPOUT_CACHE), so later runs and fresh clones reuse it.
# Any other version comes from ../shared/frameserver only.
# On success FOLDER holds a link named libavisynth.so to the library (the
# tool loads it by that name), REAL_FRAMESERVER is FOLDER and
# REAL_FRAMESERVER_ORIGIN says where the library came from; returns 0.
# Where there is none it returns 1 with the reason in REAL_FRAMESERVER_WHY;
# where the shared source is there but does not build it returns 2.

DEFAULT_AVISYNTH_VERSION=3.7.5

shared_frameserver_folder() {
  echo "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/../shared/frameserver"
}
clipspout_cache() {
  echo "${CLIPSPOUT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/clipspout}"
}

# The folder that every build of VERSION goes into (the snapshot keeps the
# folder it always had).
frameserver_cache() {
  local version=${1:-$DEFAULT_AVISYNTH_VERSION}
  if [ "$version" = snapshot ]; then
    echo "$(clipspout_cache)/avisynthplus"
  else
    echo "$(clipspout_cache)/avisynthplus-$version"
  fi
}

# The shared build scripts take the archive beside them: for a release they
# are run from a folder of links that puts that release's archive there, so
# that FFMS2 and the Windows DLL are built from the release too. Prints the
# folder (made under the cache, kept).
release_shim() {
  local version=$1 shared shim archive
  shared=$(shared_frameserver_folder)
  archive=$(ls "$shared"/releases/avisynthplus-"$version"-*.tar.xz 2>/dev/null | head -n 1)
  [ -n "$archive" ] || return 1
  shim="$(clipspout_cache)/shim-$version"
  rm -rf "$shim"
  mkdir -p "$shim"
  ln -s "$shared/build-avisynthplus.sh" "$shared/build-ffms2.sh" "$shim/"
  ln -s "$shared"/ffms2-*.tar.xz "$archive" "$shim/"
  echo "$shim"
}

# Builds VERSION from ../shared/frameserver (once; later calls return at
# once) and prints the folder holding the library; with --windows, the
# 64-bit avisynth.dll and the DLLs it needs.
build_shared_avisynth() {
  local windows="" version shared
  if [ "$1" = --windows ]; then windows=--windows; shift; fi
  version=${1:-$DEFAULT_AVISYNTH_VERSION}
  shared=$(shared_frameserver_folder)
  [ -x "$shared/build-avisynthplus.sh" ] || return 1
  if [ "$version" = snapshot ]; then
    "$shared/build-avisynthplus.sh" $windows "$(frameserver_cache snapshot)" | tail -n 1
  elif [ -z "$windows" ]; then
    "$shared/build-avisynthplus.sh" --release "$version" "$(frameserver_cache "$version")" | tail -n 1
  else
    # The shared script builds a release only natively: its Windows build
    # takes the archive beside it, with the includes that --release adds
    # for the older sources (GCC 12 no longer pulls them in).
    local shim
    shim=$(release_shim "$version") || return 1
    CXXFLAGS="-include cstddef -include cstdint" "$shim/build-avisynthplus.sh" --windows \
      "$(frameserver_cache "$version")" | tail -n 1
  fi
}

# The other versions (find_real_frameserver ... VERSION --unoptimized) are
# built here, not by the shared script, and without optimization: about a
# minute each on 2 cores rather than three. They prove what each version
# gives and refuses, not its speed. Prints the folder holding the library.
build_unoptimized_avisynth() {
  local version=$1 shared archive dest stamp log
  # NDEBUG as in the releases: 3.7.3's own propSet trips an assertion on
  # any array, which a release build never checks.
  local flags="-O0 -DNDEBUG -include cstddef -include cstdint"
  shared=$(shared_frameserver_folder)
  if [ "$version" = snapshot ]; then
    archive=$(ls "$shared"/avisynthplus-*.tar.xz | head -n 1)
  else
    archive=$(ls "$shared"/releases/avisynthplus-"$version"-*.tar.xz | head -n 1)
  fi
  dest="$(frameserver_cache "$version")-unoptimized"
  stamp="$(sha256sum "$archive" | cut -d' ' -f1) $flags"
  if [ -f "$dest/.built-from" ] && [ "$(cat "$dest/.built-from")" = "$stamp" ] &&
    [ -e "$dest/build/avs_core/libavisynth.so" ]; then
    echo "$dest/build/avs_core"
    return 0
  fi
  rm -rf "$dest"
  mkdir -p "$dest/src"
  log="$dest/build.log"
  tar -xJf "$archive" -C "$dest/src" &&
    cmake -S "$dest/src/avisynthplus" -B "$dest/build" -G Ninja -DCMAKE_BUILD_TYPE= -DENABLE_PLUGINS=OFF \
      -DHEADERS_ONLY=OFF "-DCMAKE_CXX_FLAGS=$flags" >"$log" 2>&1 &&
    cmake --build "$dest/build" -j "$(nproc)" >>"$log" 2>&1 || { tail -n 30 "$log" >&2; return 1; }
  echo "$stamp" >"$dest/.built-from"
  echo "$dest/build/avs_core"
}

# Whether ../shared/frameserver has the source of VERSION.
has_shared_source() {
  local version=${1:-$DEFAULT_AVISYNTH_VERSION} shared
  shared=$(shared_frameserver_folder)
  [ -x "$shared/build-avisynthplus.sh" ] || return 1
  if [ "$version" = snapshot ]; then
    ls "$shared"/avisynthplus-*.tar.xz >/dev/null 2>&1
  else
    ls "$shared"/releases/avisynthplus-"$version"-*.tar.xz >/dev/null 2>&1
  fi
}

find_real_frameserver() {
  local folder=$1 version=${2:-$DEFAULT_AVISYNTH_VERSION} unoptimized=${3:-} library=""
  REAL_FRAMESERVER="" REAL_FRAMESERVER_ORIGIN="" REAL_FRAMESERVER_WHY=""

  if [ "$version" = "$DEFAULT_AVISYNTH_VERSION" ] && [ -n "${CLIPSPOUT_AVISYNTH_LIBRARY:-}" ]; then
    if [ ! -f "$CLIPSPOUT_AVISYNTH_LIBRARY" ]; then
      REAL_FRAMESERVER_WHY="CLIPSPOUT_AVISYNTH_LIBRARY names no file: $CLIPSPOUT_AVISYNTH_LIBRARY"
      return 2
    fi
    library=$CLIPSPOUT_AVISYNTH_LIBRARY
    REAL_FRAMESERVER_ORIGIN="CLIPSPOUT_AVISYNTH_LIBRARY"
  elif [ "$version" = "$DEFAULT_AVISYNTH_VERSION" ] &&
    library=$(/sbin/ldconfig -p 2>/dev/null | awk '$1 == "libavisynth.so" && !found { print $NF; found = 1 }') &&
    [ -n "$library" ]; then
    REAL_FRAMESERVER_ORIGIN="the system's libavisynth.so"
  elif has_shared_source "$version"; then
    local out
    echo "real frame server: AviSynth+ $version from ../shared/frameserver, built once into $(frameserver_cache "$version")${unoptimized:+-unoptimized}" >&2
    if [ -n "$unoptimized" ]; then
      out=$(build_unoptimized_avisynth "$version") || out=""
    else
      out=$(build_shared_avisynth "$version") || out=""
    fi
    if [ -z "$out" ] || [ ! -f "$out/libavisynth.so" ]; then
      REAL_FRAMESERVER_WHY="building AviSynth+ $version from ../shared/frameserver failed"
      return 2
    fi
    library=$out/libavisynth.so
    REAL_FRAMESERVER_ORIGIN="AviSynth+ $version built${unoptimized:+ unoptimized} from ../shared/frameserver"
  else
    REAL_FRAMESERVER_WHY="no AviSynth+ $version here: there is no ../shared/frameserver with its source beside the clone"
    [ "$version" = "$DEFAULT_AVISYNTH_VERSION" ] &&
      REAL_FRAMESERVER_WHY="no AviSynth+ here: CLIPSPOUT_AVISYNTH_LIBRARY is not set, no libavisynth.so is installed, and there is no ../shared/frameserver beside the clone"
    return 1
  fi

  mkdir -p "$folder"
  ln -sfn "$(readlink -f "$library")" "$folder/libavisynth.so"
  REAL_FRAMESERVER=$(cd "$folder" && pwd)
  REAL_FRAMESERVER_ORIGIN="$REAL_FRAMESERVER_ORIGIN ($(readlink -f "$library"))"
}

#   find_real_frameserver_windows FOLDER
#
# The same for 64-bit Windows: the folder named by CLIPSPOUT_AVISYNTH_DLL
# (avisynth.dll and the DLLs it needs), or AviSynth+ cross-built from
# ../shared/frameserver into the same cache. FOLDER receives copies of them
# (the tool looks for avisynth.dll only beside itself); the rest is as above.
find_real_frameserver_windows() {
  local folder=$1 source=""
  REAL_FRAMESERVER="" REAL_FRAMESERVER_ORIGIN="" REAL_FRAMESERVER_WHY=""

  if [ -n "${CLIPSPOUT_AVISYNTH_DLL:-}" ]; then
    if [ ! -f "$CLIPSPOUT_AVISYNTH_DLL/avisynth.dll" ]; then
      REAL_FRAMESERVER_WHY="CLIPSPOUT_AVISYNTH_DLL names no folder holding avisynth.dll: $CLIPSPOUT_AVISYNTH_DLL"
      return 2
    fi
    source=$CLIPSPOUT_AVISYNTH_DLL
    REAL_FRAMESERVER_ORIGIN="CLIPSPOUT_AVISYNTH_DLL"
  elif has_shared_source; then
    echo "real frame server: 64-bit AviSynth+ $DEFAULT_AVISYNTH_VERSION DLL from ../shared/frameserver, built once into $(frameserver_cache)" >&2
    if ! source=$(build_shared_avisynth --windows) || [ ! -f "$source/avisynth.dll" ]; then
      REAL_FRAMESERVER_WHY="cross-building AviSynth+ $DEFAULT_AVISYNTH_VERSION from ../shared/frameserver failed"
      return 2
    fi
    REAL_FRAMESERVER_ORIGIN="AviSynth+ $DEFAULT_AVISYNTH_VERSION cross-built from ../shared/frameserver"
  else
    REAL_FRAMESERVER_WHY="no AviSynth+ DLL here: CLIPSPOUT_AVISYNTH_DLL is not set and there is no ../shared/frameserver beside the clone"
    return 1
  fi

  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$source"/*.dll "$folder/"
  REAL_FRAMESERVER=$(cd "$folder" && pwd)
  REAL_FRAMESERVER_ORIGIN="$REAL_FRAMESERVER_ORIGIN ($source)"
}

#   find_ffms2_plugin FOLDER
#
# FFMS2 as an AviSynth+ source plugin (libffms2.so exporting
# AvisynthPluginInit3), for the real-media group and the demo. Looks, in
# this order, for
#   1. the file named by CLIPSPOUT_FFMS2_PLUGIN,
#   2. an installed plugin, in the folders AviSynth+ autoloads from
#      (~/.avisynth, ~/.local/lib/avisynth, and <prefix>/lib/avisynth),
#   3. the FFMS2 source in ../shared/frameserver, built once against the
#      headers of the default AviSynth+ release into the same cache
#      (.../clipspout/ffms2-3.7.5).
# On success FOLDER holds a link named libffms2.so to it, FFMS2_PLUGIN is
# that link and FFMS2_ORIGIN says where it came from; returns 0. Where there
# is none it returns 1 with the reason in FFMS2_WHY; where the shared source
# is there but does not build it returns 2.
is_ffms2_avisynth_plugin() {
  # Not grep -q: under pipefail nm would die of the closed pipe.
  [ -f "$1" ] && nm -D --defined-only "$1" 2>/dev/null | grep ' AvisynthPluginInit3$' >/dev/null
}

find_ffms2_plugin() {
  local folder=$1 plugin="" candidate
  FFMS2_PLUGIN="" FFMS2_ORIGIN="" FFMS2_WHY=""

  if [ -n "${CLIPSPOUT_FFMS2_PLUGIN:-}" ]; then
    if ! is_ffms2_avisynth_plugin "$CLIPSPOUT_FFMS2_PLUGIN"; then
      FFMS2_WHY="CLIPSPOUT_FFMS2_PLUGIN names no FFMS2 AviSynth+ plugin: $CLIPSPOUT_FFMS2_PLUGIN"
      return 2
    fi
    plugin=$CLIPSPOUT_FFMS2_PLUGIN
    FFMS2_ORIGIN="CLIPSPOUT_FFMS2_PLUGIN"
  fi
  if [ -z "$plugin" ]; then
    for candidate in "$HOME/.avisynth" "$HOME/.local/lib/avisynth" /usr/local/lib/avisynth \
      "/usr/lib/$(gcc -print-multiarch 2>/dev/null)/avisynth" /usr/lib/avisynth; do
      if is_ffms2_avisynth_plugin "$candidate/libffms2.so"; then
        plugin=$candidate/libffms2.so
        FFMS2_ORIGIN="the plugin installed in $candidate"
        break
      fi
    done
  fi
  if [ -z "$plugin" ] && has_shared_source; then
    # Against the headers of the AviSynth+ release the tests run.
    local cache shim
    cache="$(clipspout_cache)/ffms2-$DEFAULT_AVISYNTH_VERSION"
    echo "source plugin: FFMS2 from ../shared/frameserver (AviSynth+ $DEFAULT_AVISYNTH_VERSION headers), built once into $cache" >&2
    if ! shim=$(release_shim "$DEFAULT_AVISYNTH_VERSION") || ! plugin=$("$shim/build-ffms2.sh" "$cache" | tail -n 1) ||
      ! is_ffms2_avisynth_plugin "$plugin"; then
      FFMS2_WHY="building FFMS2 from ../shared/frameserver failed"
      return 2
    fi
    FFMS2_ORIGIN="FFMS2 built from ../shared/frameserver against AviSynth+ $DEFAULT_AVISYNTH_VERSION"
  fi
  if [ -z "$plugin" ]; then
    FFMS2_WHY="no FFMS2 plugin here: CLIPSPOUT_FFMS2_PLUGIN is not set, none is installed where AviSynth+ autoloads plugins, and there is no ../shared/frameserver beside the clone"
    return 1
  fi

  mkdir -p "$folder"
  ln -sfn "$(readlink -f "$plugin")" "$folder/libffms2.so"
  FFMS2_PLUGIN="$(cd "$folder" && pwd)/libffms2.so"
  FFMS2_ORIGIN="$FFMS2_ORIGIN ($(readlink -f "$plugin"))"
}

# The tests' fault plugin (tests/helpers/fault_plugin.c), built against the
# default release's C header into FOLDER; prints its path. Status 1 where
# the header is not there (no ../shared).
build_fault_plugin() {
  local header plugin
  header="$(frameserver_cache "$DEFAULT_AVISYNTH_VERSION")/src/avisynthplus/avs_core/include"
  [ -f "$header/avisynth_c.h" ] || return 1
  mkdir -p "$1"
  # Absolute: the scripts load it from folders of their own.
  plugin="$(cd "$1" && pwd)/libclipspout_fault.so"
  gcc -shared -fPIC -Wall -Werror -I"$header" -o "$plugin" tests/helpers/fault_plugin.c -ldl || return 1
  echo "$plugin"
}
