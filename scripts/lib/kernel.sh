# Shell functions the test scripts share; sourced, not run.

# Whether this kernel starts a 32-bit x86 program: a 96-byte static ELF that
# only makes the exit system call with status 42.
kernel_starts_32bit_programs() {
  local probe
  probe=$(mktemp "${TMPDIR:-/tmp}/trailavi-elf32.XXXXXX")
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'"$(
  )"'\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'"$(
  )"'\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000'"$(
  )"'\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010'"$(
  )"'\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000'"$(
  )"'\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  local status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}
