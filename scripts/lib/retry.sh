# shellcheck shell=bash
# A Debian mirror is at times in the middle of a sync ("File has unexpected
# size") or a fetch fails: `retrying PAUSE COMMAND...` runs the command, and
# again after a pause of PAUSE seconds, then of twice that, before it counts
# as failed.
retrying() {
  local pause=$1
  shift
  "$@" && return 0
  echo "trailavi: '$1 $2' failed; trying again in $pause s" >&2
  sleep "$pause"
  "$@" && return 0
  echo "trailavi: '$1 $2' failed; trying again in $((2 * pause)) s" >&2
  sleep $((2 * pause))
  "$@"
}
