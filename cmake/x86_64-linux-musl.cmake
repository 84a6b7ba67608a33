# Cross build for Linux on x86-64 with musl (Alpine), with Zig's clang; musl
# programs are linked statically.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRAILAVI_ZIG_TARGET x86_64-linux-musl)
set(TRAILAVI_STATIC ON CACHE BOOL "Link the program statically")
include(${CMAKE_CURRENT_LIST_DIR}/zig-common.cmake)
