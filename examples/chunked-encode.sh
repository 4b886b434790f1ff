#!/usr/bin/env bash
# Encodes a script's video as CHUNKS frame ranges, one x264 job a range, run
# by GNU parallel on this machine or spread over others through ssh, and
# joins the encoded chunks in order into NAME.264 beside the script, once
# every chunk has succeeded. The chunks and their logs (chunkN.264,
# chunkN.log) are written there too. A failed chunk's log is kept and
# named. NAME.264 of an earlier run is not replaced unless OVERWRITE=1, and
# the chunks of an earlier run are removed only with a line that says so.
#
#   examples/chunked-encode.sh SCRIPT CHUNKS [SSHLOGINS]
#
# SSHLOGINS is GNU parallel's --sshlogin list: host1,user@host2 (":" is this
# machine; "2/host" gives a host 2 jobs at a time). Without it the jobs run
# here. Over ssh each job runs in a working folder of its own on the machine
# that takes it, ~/.parallel/tmp/clipspout-chunks-HOST-PID-N: the script and
# the files named in TRANSFER travel there, the chunk and its log come back,
# and the folder is removed. When the run ends, whether it succeeded,
# failed or was stopped, the folders of this run left on any login (a job
# stopped when another failed, one on this machine) are removed as well.
#
# Every machine needs, at the same paths: clipspout, AviSynth+ and the
# source plugin (installed, or loaded by the script with LoadPlugin and an
# absolute path), x264, and bash. The script names its source either by a
# path every machine has (shared storage) or relatively, with the source
# in TRANSFER; AviSynth+ reads a relative path from the script's folder.
#
# Environment:
#   CLIPSPOUT              the tool's path on every machine (default: clipspout)
#   AVISYNTH_LIBRARY_PATH  the folder of libavisynth.so on every machine,
#                          where it is not installed where the system finds it
#   TRANSFER               more files each job needs, relative to the
#                          script's folder (the source film), space-separated
#   X264_OPTIONS           for every chunk (default: --preset medium)
#   PARALLEL_OPTIONS       more options for GNU parallel: --retries 2,
#                          --joblog FILE, --resume (word-split: no quoting)
#   PARALLEL_SSH           GNU parallel's own: the ssh command, with its
#                          options ("ssh -p 2222 -i KEY")
#   OVERWRITE              1: replace an existing NAME.264
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 SCRIPT CHUNKS [SSHLOGINS]" >&2
  exit 2
fi
script=$1 chunks=$2 logins=${3:-}
export CLIPSPOUT=${CLIPSPOUT:-clipspout}
export AVISYNTH_LIBRARY_PATH=${AVISYNTH_LIBRARY_PATH:-}
export X264_OPTIONS=${X264_OPTIONS:---preset medium}

# One chunk: frames FIRST to LAST into chunkN.264, with a log that says
# where it ran. Over ssh it runs in a working folder with the script beside
# it, and its files go back; on this machine (":" in the login list) GNU
# parallel gives it an empty working folder and takes nothing back, so it
# works in the script's own folder, HOME_FOLDER.
chunk_job() {
  local first=$1 last=$2 n=$3 script=$4 home=$5 status=0
  set -o pipefail
  if [ ! -e "$script" ] && [ -e "$home/$script" ]; then
    cd "$home" || return 2
  fi
  echo "chunk $n: frames $first to $last on $(hostname) as $(id -un), ${SSH_CONNECTION:+ssh $SSH_CONNECTION}" >"chunk$n.log"
  LD_LIBRARY_PATH=$AVISYNTH_LIBRARY_PATH${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
    "$CLIPSPOUT" -s "$first" -e "$last" video "$script" 2>>"chunk$n.log" |
    x264 $X264_OPTIONS --demuxer y4m -o "chunk$n.264" - 2>>"chunk$n.log" || status=$?
  if [ $status -ne 0 ]; then
    # The log may not come back from a failed job: its text goes to
    # standard error as well.
    echo "chunk $n failed (status $status) on $(hostname); its log, chunk$n.log:" >&2
    sed 's/^/  /' "chunk$n.log" >&2
  fi
  return $status
}
export -f chunk_job

cd "$(dirname "$script")"
name=$(basename "$script")
home=$(pwd)
out=${name%.*}.264
if [ -e "$out" ] && [ "${OVERWRITE:-}" != 1 ]; then
  echo "$0: $home/$out exists: move it away, or set OVERWRITE=1 to replace it once every chunk has succeeded" >&2
  exit 2
fi

# The ranges come from the clip's own frame count.
frames=$(LD_LIBRARY_PATH=$AVISYNTH_LIBRARY_PATH${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} "$CLIPSPOUT" info "$name" |
  awk '/^v:frames/ { print $2 }')
if [ -z "$frames" ] || [ "$frames" -eq 0 ]; then
  echo "$0: $script has no video frames" >&2
  exit 2
fi
[ "$chunks" -le "$frames" ] || chunks=$frames
starts=() ends=()
for ((i = 0; i < chunks; i++)); do
  starts+=($((i * frames / chunks)))
  ends+=($(((i + 1) * frames / chunks - 1)))
done

# Each job's working folder is named after this run, not left to GNU
# parallel's "...", whose name holds parallel's own pid: a job stopped by
# --halt is never cleaned by --cleanup, and a job on this machine (":")
# never is, so this run's folders are found by name and removed at the end.
run=clipspout-chunks-$(hostname)-$$
remove_working_folders() {
  [ -n "$logins" ] || return 0
  parallel --will-cite --nonall --sshlogin "$logins" "cd && rm -rf .parallel/tmp/$run-*" >/dev/null 2>&1 ||
    echo "$0: could not remove this run's working folders (~/.parallel/tmp/$run-*) on every login" >&2
}
trap 'remove_working_folders; exit 130' INT
trap 'remove_working_folders; exit 143' TERM

remote=()
if [ -n "$logins" ]; then
  remote=(--sshlogin "$logins" --env chunk_job --env CLIPSPOUT --env AVISYNTH_LIBRARY_PATH --env X264_OPTIONS
    --workdir ".parallel/tmp/$run-{#}" --transferfile "$name" --return 'chunk{#}.264' --return 'chunk{#}.log'
    --cleanup)
  for file in ${TRANSFER:-}; do
    remote+=(--transferfile "$file")
  done
fi
earlier=$(ls chunk*.264 chunk*.log 2>/dev/null || true)
if [ -n "$earlier" ]; then
  echo "$0: removing the chunks of an earlier run in $home:" $earlier >&2
  rm -f chunk*.264 chunk*.log
fi
status=0
# shellcheck disable=SC2086
parallel --will-cite --halt now,fail=1 --link "${remote[@]}" ${PARALLEL_OPTIONS:-} \
  chunk_job '{1}' '{2}' '{#}' "$name" "$home" ::: "${starts[@]}" ::: "${ends[@]}" || status=$?
trap - INT TERM
remove_working_folders
missing=()
for ((i = 1; i <= chunks; i++)); do
  [ -s "chunk$i.264" ] || missing+=("chunk$i")
done
if [ $status -ne 0 ] || [ ${#missing[@]} -ne 0 ]; then
  logs=$(ls chunk*.log 2>/dev/null | tr '\n' ' ' || true)
  echo "$0: the encode failed (GNU parallel: status $status${missing:+; missing: ${missing[*]}}): nothing is" \
    "joined${logs:+; the logs that came back, in $home: $logs}" >&2
  exit 2
fi

[ -e "$out" ] && echo "$0: replacing $home/$out (OVERWRITE=1)" >&2
for ((i = 1; i <= chunks; i++)); do
  cat "chunk$i.264"
done >"$out.partial"
mv "$out.partial" "$out"
echo "$0: $frames frames in $chunks chunks: $home/$out" >&2
