#pragma once

#include "input/background_image.hpp"
#include "input/point_line.hpp"

namespace trailavi {

// Darkens the pixel under `point` in place: each of its three bytes loses
// 127, with a floor of 0. Coordinates are clamped into the picture at both
// ends. A picture with no rows or columns, or a pixel whose three bytes would
// not all lie in the pixel region, is left untouched.
void mark_point(BackgroundImage& image, Point point);

// One colour byte darkened by a mark.
[[nodiscard]] constexpr std::uint8_t darken(std::uint8_t value) {
  return value < 127 ? 0 : static_cast<std::uint8_t>(value - 127);
}

}  // namespace trailavi
