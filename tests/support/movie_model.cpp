#include "movie_model.hpp"

#include <algorithm>
#include <cstdlib>

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

namespace {

std::vector<std::uint8_t> pixel_region(const BitmapSpec& picture) {
  const std::vector<std::uint8_t> file = bitmap_bytes(picture);
  return {file.begin() + 14 + static_cast<std::ptrdiff_t>(format_of(picture).size()), file.end()};
}

// y counts rows as they are stored, whichever way up the picture is.
void mark(const BitmapSpec& picture, const PlotPoint& point, std::vector<std::uint8_t>& canvas) {
  const std::int64_t rows = std::abs(static_cast<std::int64_t>(picture.height));
  if (picture.width <= 0 || rows == 0) return;
  const std::int64_t x = std::clamp<std::int64_t>(point.x, 0, picture.width - 1);
  const std::int64_t y = std::clamp<std::int64_t>(point.y, 0, rows - 1);
  const std::int64_t at = 3 * x + stride_of(picture.width) * y;
  if (at + 3 > static_cast<std::int64_t>(canvas.size())) return;
  for (int i = 0; i < 3; ++i) {
    std::uint8_t& b = canvas[static_cast<std::size_t>(at + i)];
    b = b < 127 ? 0 : static_cast<std::uint8_t>(b - 127);
  }
}

}  // namespace

std::vector<std::vector<std::uint8_t>> expected_frames(const BitmapSpec& picture,
                                                       const std::vector<DataLine>& lines) {
  std::vector<std::uint8_t> canvas = pixel_region(picture);
  std::vector<std::vector<std::uint8_t>> frames;
  for (const DataLine& line : lines) {
    if (const auto* point = std::get_if<PlotPoint>(&line)) {
      mark(picture, *point, canvas);
    } else {
      frames.push_back(canvas);
    }
  }
  return frames;
}

std::vector<std::uint8_t> final_canvas(const BitmapSpec& picture, const std::vector<DataLine>& lines) {
  std::vector<std::uint8_t> canvas = pixel_region(picture);
  for (const DataLine& line : lines) {
    if (const auto* point = std::get_if<PlotPoint>(&line)) mark(picture, *point, canvas);
  }
  return canvas;
}

}  // namespace trailavi::test
