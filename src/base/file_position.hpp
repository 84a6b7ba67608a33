#pragma once

#include <cstdint>
#include <cstdio>

namespace trailavi {

// 64-bit positioning on every target, so that a file past 2 GiB is measured
// rather than misreported by a 32-bit long.

[[nodiscard]] inline int seek_file(std::FILE* file, std::int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(file, offset, origin);
#else
  return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

[[nodiscard]] inline std::int64_t tell_file(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return static_cast<std::int64_t>(ftello(file));
#endif
}

// True when the open file is a directory: the C library opens one for
// reading on some systems, but it holds no bytes to read.
[[nodiscard]] bool is_directory(std::FILE* file);

}  // namespace trailavi
