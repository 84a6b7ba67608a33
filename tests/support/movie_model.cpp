#include "movie_model.hpp"

#include <algorithm>

namespace trailavi::test {

std::string data_text(const std::vector<DataLine>& lines, const std::string& line_end) {
  std::string text;
  for (const DataLine& line : lines) {
    if (const auto* point = std::get_if<PlotPoint>(&line)) {
      text += std::to_string(point->x) + " " + std::to_string(point->y);
    }
    text += line_end;
  }
  return text;
}

std::vector<std::vector<std::uint8_t>> expected_frames(const BitmapSpec& spec,
                                                       const std::vector<DataLine>& lines) {
  const std::vector<std::uint8_t> file = bitmap_bytes(spec);
  std::vector<std::uint8_t> canvas(file.begin() + 14 + 40 + static_cast<std::ptrdiff_t>(spec.colour_table.size()),
                                   file.end());
  std::vector<std::vector<std::uint8_t>> frames;
  for (const DataLine& line : lines) {
    const auto* point = std::get_if<PlotPoint>(&line);
    if (point == nullptr) {
      frames.push_back(canvas);
      continue;
    }
    if (spec.width <= 0 || spec.height <= 0) continue;
    const std::int64_t x = std::clamp<std::int64_t>(point->x, 0, spec.width - 1);
    const std::int64_t y = std::clamp<std::int64_t>(point->y, 0, spec.height - 1);
    const std::int64_t at = 3 * x + stride_of(spec.width) * y;
    if (at + 3 > static_cast<std::int64_t>(canvas.size())) continue;
    for (int i = 0; i < 3; ++i) {
      std::uint8_t& b = canvas[static_cast<std::size_t>(at + i)];
      b = b < 127 ? 0 : static_cast<std::uint8_t>(b - 127);
    }
  }
  return frames;
}

}  // namespace trailavi::test
