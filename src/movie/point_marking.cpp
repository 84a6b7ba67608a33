#include "movie/point_marking.hpp"

#include <algorithm>

namespace trailavi {

void mark_point(BackgroundImage& image, Point point) {
  if (image.width <= 0 || image.height <= 0) return;
  const std::int64_t x = std::clamp<std::int64_t>(point.x, 0, image.width - 1);
  const std::int64_t y = std::clamp<std::int64_t>(point.y, 0, image.height - 1);
  // 0 <= x, y < 2^31 and |row stride| <= 2^31, so the offset is exact in
  // 64 bits; it is checked against the region whatever the bit count, since
  // only 24-bit pictures have rows of the stride's length.
  const std::int64_t offset = 3 * x + static_cast<std::int64_t>(image.row_stride_bytes) * y;
  const std::span<std::uint8_t> pixels = image.pixels();
  if (offset < 0 || offset > static_cast<std::int64_t>(pixels.size()) - 3) return;
  std::uint8_t* const pixel = pixels.data() + offset;
  pixel[0] = darken(pixel[0]);
  pixel[1] = darken(pixel[1]);
  pixel[2] = darken(pixel[2]);
}

}  // namespace trailavi
