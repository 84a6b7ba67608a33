# shellcheck shell=bash
# Shared by the release checks: failing and skipping, and the tools they need.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Skips the check (ctest shows it as skipped) when a tool is missing, unless
# TRAILAVI_RELEASE_TOOLS_REQUIRED is set: the release command and the test
# suite install every tool first, so there a missing one is a failure.
need() {
  local tool=$1 package=$2
  command -v "$tool" >/dev/null 2>&1 && return 0
  if [ -n "${TRAILAVI_RELEASE_TOOLS_REQUIRED:-}" ]; then
    fail "$tool is not installed (Debian package $package; scripts/install-deps release installs it)"
  fi
  echo "SKIPPED: $tool is not installed (Debian package $package; scripts/install-deps release installs it)"
  exit 77
}

# Sets `work` to a fresh folder, removed when the script ends.
make_work_dir() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/trailavi-release.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" EXIT
}
