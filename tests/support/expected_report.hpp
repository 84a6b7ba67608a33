#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap_builder.hpp"

namespace trailavi::test {

// The report lines a run prints, joined with the program's line end.
std::string join_lines(const std::vector<std::string>& lines);

// Lines 1 to 6 for a bitmap built from `picture`, and lines 7 to 9.
std::vector<std::string> bitmap_lines(const BitmapSpec& picture);
std::vector<std::string> prescan_lines(std::int32_t points, std::int32_t frames, std::int32_t x_max,
                                       std::int32_t y_max);
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);

}  // namespace trailavi::test
