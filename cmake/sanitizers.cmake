# Builds that look for faults rather than ship:
#
#   TRAILAVI_SANITIZE=ON        everything under AddressSanitizer and
#                               UndefinedBehaviorSanitizer, every finding fatal,
#                               with the standard library's assertions
#   TRAILAVI_SANITIZE_THREADS=ON  everything under ThreadSanitizer, for the
#                               passes' threads (not with the two above)
#   TRAILAVI_BUILD_FUZZERS=ON   the same, with libFuzzer's coverage in every
#                               library, and the fuzz targets of fuzz/ (clang)
#
# Included before the libraries are defined, so that the options reach them.
option(TRAILAVI_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TRAILAVI_SANITIZE_THREADS "Build everything with ThreadSanitizer" OFF)
option(TRAILAVI_BUILD_FUZZERS "Build the libFuzzer targets in fuzz/ (clang++ only; sanitized)" OFF)

if(TRAILAVI_SANITIZE_THREADS AND (TRAILAVI_SANITIZE OR TRAILAVI_BUILD_FUZZERS))
  message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
endif()
if(TRAILAVI_SANITIZE_THREADS)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(TRAILAVI_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TRAILAVI_BUILD_FUZZERS needs clang++: libFuzzer comes with clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# The standard library's own checks come too: an index past a span's or a
# vector's end inside one allocation is beyond what AddressSanitizer sees.
if(TRAILAVI_SANITIZE OR TRAILAVI_BUILD_FUZZERS)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
