#pragma once

#include <string_view>

#include "input/point_line.hpp"

namespace trailavi::test {

// Classifies one whole line as the reader does: at most 255 characters, with
// a line feed, if any, only as its last character. Nothing past the line is
// readable.
[[nodiscard]] inline bool parse_point_line(std::string_view line, Point& point) {
  const char* const end = line.data() + line.size();
  const char* const limit = !line.empty() && line.back() == '\n' ? end - 1 : end;
  return scan_line(line.data(), limit, end, point);
}

}  // namespace trailavi::test
