# What the Linux cross builds with Debian's cross compilers share; the
# toolchain file that includes this sets CMAKE_SYSTEM_PROCESSOR and
# TRAILAVI_CROSS_TRIPLE first. The program is linked statically, so that it
# runs on any Linux of its processor, whatever C library that has.
set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_CXX_COMPILER NAMES ${TRAILAVI_CROSS_TRIPLE}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAILAVI_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(TRAILAVI_STATIC ON CACHE BOOL "Link the program statically")
