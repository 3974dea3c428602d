# Shared by the setup scripts (sourced, not run).

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# apt-get update, tried a few times: a mirror in the middle of a sync answers with index files of
# the wrong size for a while. Should one index still fail after that, the install that follows goes
# on with what apt has, and fails by itself if a package it needs is really out of reach.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    if as_root apt-get "$@" update -qq; then return 0; fi
    echo "setup: apt-get update failed (attempt $attempt of 3)" >&2
    [ "$attempt" -lt 3 ] && sleep $((attempt * 10))
  done
  echo "setup: going on with the package lists apt has" >&2
  return 0
}
