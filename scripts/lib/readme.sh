# shellcheck shell=bash
# What the tests read out of the README, so that they run its commands as
# printed; sourced, not run.

# The block of recipe NAME in README file FILE: the ```sh block after its
# `<!-- recipe: NAME -->` line; nothing when there is none.
readme_recipe() {
  awk -v name="$2" '$0 == "<!-- recipe: " name " -->" { found = 1; next }
    found && /^```sh$/ { inside = 1; next }
    inside && /^```$/ { exit }
    inside { print }' "$1"
}

# COMMAND as README file FILE prints it in backticks; nothing when it does
# not.
readme_inline() {
  grep -oF -- "\`$2\`" "$1" | head -n 1 | tr -d '`'
}
