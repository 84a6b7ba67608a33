# Cross build for macOS on Intel processors, with Zig's clang and its macOS
# stubs. The program is built and linked here, never run.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRAILAVI_ZIG_TARGET x86_64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig-common.cmake)
