#include "expected_report.hpp"

#include "process.hpp"

namespace trailavi::test {

std::string join_lines(const std::vector<std::string>& lines) {
  const std::string line_end = program_line_end();
  std::string out;
  for (const std::string& line : lines) out += line + line_end;
  return out;
}

std::vector<std::string> bitmap_lines(const BitmapSpec& picture) {
  const std::vector<std::uint8_t> bytes = bitmap_bytes(picture);
  // The report's 32-bit arithmetic: 3 * width + 3 wraps, the division
  // truncates toward zero, and the product keeps its low 32 bits.
  const auto sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(picture.width) * 3u + 3u);
  const std::int32_t stride = sum / 4 * 4;
  const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(stride) *
                                                 static_cast<std::uint32_t>(picture.height));
  const std::int64_t header_bytes = 40 + static_cast<std::int64_t>(picture.colour_table.size());
  return {
      "fsize: " + std::to_string(bytes.size() - 14),
      "biClrUsed: " + std::to_string(static_cast<std::int32_t>(picture.clr_used)),
      "biBitCount: " + std::to_string(picture.bit_count),
      "width: " + std::to_string(picture.width) + ", height: " + std::to_string(picture.height),
      "lsize: " + std::to_string(stride),
      std::to_string(product),
      "header1 size: " + std::to_string(header_bytes + 14),
  };
}

std::vector<std::string> prescan_lines(std::int32_t points, std::int32_t frames, std::int32_t x_max,
                                       std::int32_t y_max) {
  return {
      "number of data: " + std::to_string(points),
      "number of frame: " + std::to_string(frames),
      "xmax: " + std::to_string(x_max) + ", ymax: " + std::to_string(y_max),
  };
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace trailavi::test
