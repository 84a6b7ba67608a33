# Cross build for 32-bit Windows, the program's home, with Debian's
# mingw-w64 toolchain (packages g++-mingw-w64-i686 and mingw-w64-i686-dev).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TRAILAVI_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
