# Sourced by the scripts beside it: finds a real AviSynth+ and the FFMS2
# source plugin for the tests, the demo and the benchmark.
#
#   find_real_frameserver FOLDER
#
# Looks, in this order, for
#   1. the library named by CLIPSPOUT_AVISYNTH_LIBRARY (a libavisynth.so file),
#   2. a system-installed libavisynth.so (as the dynamic linker finds it),
#   3. the AviSynth+ source in ../shared/frameserver beside the clone, which
#      it builds once into a cache outside the clone
#      (${XDG_CACHE_HOME:-~/.cache}/clipspout/avisynthplus, or
#      CLIPSPOUT_CACHE/avisynthplus), so later runs and fresh clones reuse it.
# On success FOLDER holds a link named libavisynth.so to the library (the
# tool loads it by that name), REAL_FRAMESERVER is FOLDER and
# REAL_FRAMESERVER_ORIGIN says where the library came from; returns 0.
# Where there is none it returns 1 with the reason in REAL_FRAMESERVER_WHY;
# where the shared source is there but does not build it returns 2.

# The build scripts of the shared AviSynth+ and FFMS2 sources, and the cache
# they build into.
shared_build_script() {
  echo "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/../shared/frameserver/build-avisynthplus.sh"
}
shared_ffms2_script() {
  echo "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/../shared/frameserver/build-ffms2.sh"
}
frameserver_cache() {
  echo "${CLIPSPOUT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/clipspout}/avisynthplus"
}

find_real_frameserver() {
  local folder=$1 library="" shared
  REAL_FRAMESERVER="" REAL_FRAMESERVER_ORIGIN="" REAL_FRAMESERVER_WHY=""
  shared=$(shared_build_script)

  if [ -n "${CLIPSPOUT_AVISYNTH_LIBRARY:-}" ]; then
    if [ ! -f "$CLIPSPOUT_AVISYNTH_LIBRARY" ]; then
      REAL_FRAMESERVER_WHY="CLIPSPOUT_AVISYNTH_LIBRARY names no file: $CLIPSPOUT_AVISYNTH_LIBRARY"
      return 2
    fi
    library=$CLIPSPOUT_AVISYNTH_LIBRARY
    REAL_FRAMESERVER_ORIGIN="CLIPSPOUT_AVISYNTH_LIBRARY"
  elif library=$(/sbin/ldconfig -p 2>/dev/null | awk '$1 == "libavisynth.so" && !found { print $NF; found = 1 }') &&
    [ -n "$library" ]; then
    REAL_FRAMESERVER_ORIGIN="the system's libavisynth.so"
  elif [ -x "$shared" ]; then
    local cache out
    cache=$(frameserver_cache)
    echo "real frame server: AviSynth+ from ../shared/frameserver, built once into $cache" >&2
    if ! out=$("$shared" "$cache" | tail -n 1) || [ ! -f "$out/libavisynth.so" ]; then
      REAL_FRAMESERVER_WHY="building AviSynth+ from ../shared/frameserver failed"
      return 2
    fi
    library=$out/libavisynth.so
    REAL_FRAMESERVER_ORIGIN="AviSynth+ built from ../shared/frameserver"
  else
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
  local folder=$1 source="" shared
  REAL_FRAMESERVER="" REAL_FRAMESERVER_ORIGIN="" REAL_FRAMESERVER_WHY=""
  shared=$(shared_build_script)

  if [ -n "${CLIPSPOUT_AVISYNTH_DLL:-}" ]; then
    if [ ! -f "$CLIPSPOUT_AVISYNTH_DLL/avisynth.dll" ]; then
      REAL_FRAMESERVER_WHY="CLIPSPOUT_AVISYNTH_DLL names no folder holding avisynth.dll: $CLIPSPOUT_AVISYNTH_DLL"
      return 2
    fi
    source=$CLIPSPOUT_AVISYNTH_DLL
    REAL_FRAMESERVER_ORIGIN="CLIPSPOUT_AVISYNTH_DLL"
  elif [ -x "$shared" ]; then
    local cache
    cache=$(frameserver_cache)
    echo "real frame server: 64-bit AviSynth+ DLL from ../shared/frameserver, built once into $cache" >&2
    if ! source=$("$shared" --windows "$cache" | tail -n 1) || [ ! -f "$source/avisynth.dll" ]; then
      REAL_FRAMESERVER_WHY="cross-building AviSynth+ from ../shared/frameserver failed"
      return 2
    fi
    REAL_FRAMESERVER_ORIGIN="AviSynth+ cross-built from ../shared/frameserver"
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
#   3. the FFMS2 source in ../shared/frameserver, built once into the same
#      cache as AviSynth+ (.../clipspout/ffms2).
# On success FOLDER holds a link named libffms2.so to it, FFMS2_PLUGIN is
# that link and FFMS2_ORIGIN says where it came from; returns 0. Where there
# is none it returns 1 with the reason in FFMS2_WHY; where the shared source
# is there but does not build it returns 2.
is_ffms2_avisynth_plugin() {
  # Not grep -q: under pipefail nm would die of the closed pipe.
  [ -f "$1" ] && nm -D --defined-only "$1" 2>/dev/null | grep ' AvisynthPluginInit3$' >/dev/null
}

find_ffms2_plugin() {
  local folder=$1 plugin="" candidate shared
  FFMS2_PLUGIN="" FFMS2_ORIGIN="" FFMS2_WHY=""
  shared=$(shared_ffms2_script)

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
  if [ -z "$plugin" ] && [ -x "$shared" ]; then
    local cache
    cache="$(dirname "$(frameserver_cache)")/ffms2"
    echo "source plugin: FFMS2 from ../shared/frameserver, built once into $cache" >&2
    if ! plugin=$("$shared" "$cache" | tail -n 1) || ! is_ffms2_avisynth_plugin "$plugin"; then
      FFMS2_WHY="building FFMS2 from ../shared/frameserver failed"
      return 2
    fi
    FFMS2_ORIGIN="FFMS2 built from ../shared/frameserver"
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
