# Sourced by the scripts beside it: installs the named Debian packages that
# are not installed yet.
#
# A mirror that is being synced answers with index files of the wrong size
# now and then ("Mirror sync in progress?"): the package lists are fetched
# again, a few times, and the install is tried with what came, so that
# such a moment never fails a run by itself. A package that is really
# missing still fails the install.
apt_update_with_retries() {
  local attempt
  for attempt in 1 2 3; do
    $1 apt-get update && return 0
    [ $attempt -lt 3 ] || break
    echo "apt-get update failed (attempt $attempt of 3); trying again in $((attempt * 10)) s" >&2
    sleep $((attempt * 10))
  done
  echo "apt-get update kept failing: installing with the package lists it has" >&2
}

ensure_packages() {
  local missing=() p sudo="" attempt
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  apt_update_with_retries "$sudo"
  for attempt in 1 2; do
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}" && return 0
    [ $attempt -lt 2 ] || return 1
    echo "apt-get install failed (attempt $attempt of 2); fetching the package lists again" >&2
    apt_update_with_retries "$sudo"
  done
}
