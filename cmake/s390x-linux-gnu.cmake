# Cross build for Linux on IBM Z, a big-endian processor, with Debian's
# g++-s390x-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TRAILAVI_CROSS_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
