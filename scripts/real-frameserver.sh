# Sourced by the scripts beside it: finds a real AviSynth+ for the tests
# and the benchmark.
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

# The build script of the shared AviSynth+ source, and the cache it builds into.
shared_build_script() {
  echo "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/../shared/frameserver/build-avisynthplus.sh"
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
  elif library=$(/sbin/ldconfig -p 2>/dev/null | awk '$1 == "libavisynth.so" { print $NF; exit }') &&
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
