# How the programs that ship are built, beyond the optimisation their
# configuration asks for. Included before the libraries are defined, so that
# the flags reach them.
#
# On Linux and other targets but Windows: Debian's hardening, as
# dpkg-buildflags gives it with hardening=+all, in the optimised
# configurations (Release, RelWithDebInfo, MinSizeRel). Fortified functions
# need optimisation, and without it glibc warns that they are off, so
# unoptimised builds are left as they are; so are the sanitizer and fuzz
# builds, whose instrumentation does this job and more.
#
# On Windows the linker marks the programs for a moving base address and a
# data area that cannot run (DYNAMIC_BASE and NX_COMPAT) by itself. It writes
# no build time into their header, so that the same sources make the same
# program; and Release and MinSizeRel programs are stripped as they are
# linked, since the strip tool would write the time in again.
option(TRAILAVI_HARDENING "Build optimised configurations off Windows with Debian's hardening flags" ON)

set(trailavi_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
# Whether the program carries the hardening: a generator expression, 1 or 0
# once the configuration is known (the package's checks ask).
set(TRAILAVI_HARDENED 0)

if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp "$<$<CONFIG:Release,MinSizeRel>:-s>")
elseif(TRAILAVI_HARDENING AND NOT WIN32 AND NOT TRAILAVI_SANITIZE AND NOT TRAILAVI_BUILD_FUZZERS)
  set(trailavi_hardening_compile -fstack-protector-strong -fPIE -Wformat -Werror=format-security)
  # Probes and branch marks exist on some processors only; where the compiler
  # cannot make them, the flag would be a warning, and so an error.
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-fstack-clash-protection TRAILAVI_HAS_STACK_CLASH_PROTECTION)
  check_cxx_compiler_flag(-fcf-protection TRAILAVI_HAS_CF_PROTECTION)
  if(TRAILAVI_HAS_STACK_CLASH_PROTECTION)
    list(APPEND trailavi_hardening_compile -fstack-clash-protection)
  endif()
  if(TRAILAVI_HAS_CF_PROTECTION)
    list(APPEND trailavi_hardening_compile -fcf-protection)
  endif()
  add_compile_options("$<${trailavi_optimised}:${trailavi_hardening_compile}>")
  # A compiler that fortifies by default would warn about a second
  # definition, so whatever it has is undefined first.
  add_compile_options("$<${trailavi_optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options("$<${trailavi_optimised}:-pie;-Wl,-z,relro;-Wl,-z,now>")
  set(TRAILAVI_HARDENED "${trailavi_optimised}")
endif()
