#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "bitmap_builder.hpp"

namespace trailavi::test {

struct PlotPoint {
  std::int32_t x, y;
};
struct Separator {};
using DataLine = std::variant<PlotPoint, Separator>;

// The point file for `lines`: "x y" for a point, an empty line otherwise.
std::string data_text(const std::vector<DataLine>& lines, const std::string& line_end = "\n");

// The frames a run must write for a 24-bit-stride canvas: each point darkens
// the pixel under it (clamped into the picture) by 127, and each separator
// takes a copy of everything from the pixel region to the end of the file.
std::vector<std::vector<std::uint8_t>> expected_frames(const BitmapSpec& picture,
                                                       const std::vector<DataLine>& lines);

// The canvas after every line, which is the last frame when the last line is
// a separator; for videos too long to hold every frame in memory.
std::vector<std::uint8_t> final_canvas(const BitmapSpec& picture, const std::vector<DataLine>& lines);

}  // namespace trailavi::test
