# What the builds with Zig 0.11's clang share: Zig brings its own libc++ and
# C libraries, musl and the macOS system's stubs among them, which Debian
# does not have (scripts/install-deps zig puts it in /opt). The toolchain
# file that includes this sets CMAKE_SYSTEM_NAME, CMAKE_SYSTEM_PROCESSOR and
# TRAILAVI_ZIG_TARGET first, and TRAILAVI_ZIG_CPU for a processor older than
# the target's default.
find_program(TRAILAVI_ZIG NAMES zig PATHS /opt/trailavi-zig-0.11.0 REQUIRED)

# "zig c++" and "zig ar", with the target on every compile and link.
set(CMAKE_CXX_COMPILER ${TRAILAVI_ZIG})
set(CMAKE_CXX_COMPILER_ARG1 c++)
set(trailavi_zig_flags "-target ${TRAILAVI_ZIG_TARGET}")
if(TRAILAVI_ZIG_CPU)
  string(APPEND trailavi_zig_flags " -mcpu=${TRAILAVI_ZIG_CPU}")
endif()
set(CMAKE_CXX_FLAGS_INIT "${trailavi_zig_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${trailavi_zig_flags}")
# Zig keeps debug information, with the build folder's paths, unless told
# to strip: a program that ships comes out the same from any folder.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-s")
set(CMAKE_AR ${TRAILAVI_ZIG} CACHE FILEPATH "")
set(CMAKE_CXX_ARCHIVE_CREATE "<CMAKE_AR> ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "<CMAKE_AR> ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_FINISH "<CMAKE_AR> ranlib <TARGET>")
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_DIR}/zig-rules.cmake)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
