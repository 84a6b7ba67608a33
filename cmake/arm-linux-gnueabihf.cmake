# Cross build for Linux on 32-bit ARM with hardware floating point (Debian
# armhf, Raspberry Pi OS), with Debian's g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(TRAILAVI_CROSS_TRIPLE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
