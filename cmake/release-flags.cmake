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
  # A flag is kept only where the compiler or linker uses it: probes and
  # branch marks exist on some processors only, and Zig's clang for macOS
  # accepts -fstack-clash-protection with a warning that it is unused, as
  # its linker does no -z. So the checks take a warning as a failure.
  include(CheckCXXCompilerFlag)
  include(CheckLinkerFlag)
  set(CMAKE_REQUIRED_FLAGS -Werror)
  set(trailavi_hardening_compile -Wformat -Werror=format-security)
  foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection -fPIE)
    string(MAKE_C_IDENTIFIER "TRAILAVI_COMPILES${flag}" known)
    check_cxx_compiler_flag(${flag} ${known})
    if(${known})
      list(APPEND trailavi_hardening_compile ${flag})
    endif()
  endforeach()
  add_compile_options("$<${trailavi_optimised}:${trailavi_hardening_compile}>")
  # A compiler that fortifies by default would warn about a second
  # definition, so whatever it has is undefined first.
  add_compile_options("$<${trailavi_optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  # A static program is a static PIE where the C library has its start file
  # (glibc on x86 and 64-bit ARM), and not a PIE elsewhere.
  set(trailavi_pie -pie)
  if(TRAILAVI_STATIC)
    set(trailavi_pie -static-pie)
  endif()
  set(trailavi_hardening_link)
  # RELRO and immediate binding are an ELF linker's; the Mach-O linker of
  # Zig's clang takes -z and does nothing with it.
  set(trailavi_elf_link)
  if(CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
    set(trailavi_elf_link -Wl,-z,relro -Wl,-z,now)
  endif()
  foreach(flag ${trailavi_pie} ${trailavi_elf_link})
    string(MAKE_C_IDENTIFIER "TRAILAVI_LINKS${flag}" known)
    check_linker_flag(CXX ${flag} ${known})
    if(${known})
      list(APPEND trailavi_hardening_link ${flag})
    endif()
  endforeach()
  unset(CMAKE_REQUIRED_FLAGS)
  # Zig's clang makes a PIE of objects only when told -fPIE at the link too.
  if(TRAILAVI_COMPILES_fPIE AND trailavi_pie IN_LIST trailavi_hardening_link)
    list(APPEND trailavi_hardening_link -fPIE)
  endif()
  add_link_options("$<${trailavi_optimised}:${trailavi_hardening_link}>")
  set(TRAILAVI_HARDENED "${trailavi_optimised}")
endif()

# A static program runs on any Linux of its processor, whatever C library
# that has; as a static PIE in the hardened configurations where it can be.
if(TRAILAVI_STATIC AND "-static-pie" IN_LIST trailavi_hardening_link)
  add_link_options("$<$<NOT:${trailavi_optimised}>:-static>")
elseif(TRAILAVI_STATIC)
  add_link_options(-static)
endif()
