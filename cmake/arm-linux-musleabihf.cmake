# Cross build for 32-bit ARM Linux with hardware floating point, with Zig's
# clang and musl, for the ARMv6 of the first Raspberry Pis (the ARM1176 of
# the Pi 1, Zero and Zero W, with VFPv2) and every later ARM: Debian's armhf
# compiler makes ARMv7 code, which they cannot run. musl programs are linked
# statically.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TRAILAVI_ZIG_TARGET arm-linux-musleabihf)
set(TRAILAVI_ZIG_CPU arm1176jzf_s)
set(TRAILAVI_STATIC ON CACHE BOOL "Link the program statically")
include(${CMAKE_CURRENT_LIST_DIR}/zig-common.cmake)
