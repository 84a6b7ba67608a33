# Cross build for macOS on Apple silicon, with Zig's clang and its macOS
# stubs. The program is built and linked here, never run.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(TRAILAVI_ZIG_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig-common.cmake)
