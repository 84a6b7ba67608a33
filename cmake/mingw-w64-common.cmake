# What both Windows cross builds share, with Debian's mingw-w64 toolchain;
# the toolchain file that includes this sets TRAILAVI_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${TRAILAVI_MINGW_PREFIX}-gcc-win32 ${TRAILAVI_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TRAILAVI_MINGW_PREFIX}-g++-win32 ${TRAILAVI_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TRAILAVI_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAILAVI_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The program needs no DLL beyond those every Windows has: the C++ runtime
# and libgcc are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
