# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain (packages
# g++-mingw-w64-x86-64 and mingw-w64-x86-64-dev). Wine runs it on any x86-64
# kernel, including those that cannot start 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRAILAVI_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
