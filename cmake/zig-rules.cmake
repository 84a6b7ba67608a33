# Read after CMake's platform rules (CMAKE_USER_MAKE_RULES_OVERRIDE_CXX):
# Zig's linker for macOS refuses the -Wl,-v that the rules for Apple's clang
# add when CMake asks the compiler for its ABI.
set(CMAKE_CXX_VERBOSE_FLAG "-v")
