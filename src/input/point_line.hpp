#pragma once

#include <cstdint>
#include <string_view>

namespace trailavi {

// A point in pixels: x from the start of a row, y counting rows in the order
// the bitmap stores them.
struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Classifies one piece of the point file exactly as sscanf(piece, "%d%d")
// would on it as a C string: true, with the point, when both integers
// convert; false for a separator line. A NUL byte ends what is looked at.
// Values outside the signed 32-bit range keep the low 32 bits of their value,
// however many digits they have.
[[nodiscard]] bool parse_point_line(std::string_view piece, Point& point);

}  // namespace trailavi
