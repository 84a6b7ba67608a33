#pragma once

#include <cstddef>
#include <cstdint>

#include "input/background_image.hpp"
#include "input/point_line.hpp"

namespace trailavi {

// One colour byte darkened by a mark: 127 less, with a floor of 0.
[[nodiscard]] constexpr std::uint8_t darken(std::uint8_t value) {
  return value < 127 ? 0 : static_cast<std::uint8_t>(value - 127);
}

// The background's pixel region as the canvas points are marked into, with
// the geometry taken from the image once rather than for every point.
class Canvas {
 public:
  explicit Canvas(BackgroundImage& image)
      : pixels_(image.pixels().data()), size_bytes_(static_cast<std::int64_t>(image.pixels().size())),
        width_(image.width()), rows_(image.row_count()), row_stride_bytes_(image.row_stride_bytes()) {}

  // Darkens the pixel under `point` in place, clamped into the picture at
  // both ends; y counts rows as stored (y = 0 is a bottom-up picture's bottom
  // row). Without rows or columns, or where the pixel's bytes would leave the
  // pixel region, nothing is marked.
  void mark(Point point) const {
    if (width_ <= 0 || rows_ <= 0) return;
    const std::int64_t x = point.x < 0 ? 0 : (point.x >= width_ ? width_ - 1 : point.x);
    const std::int64_t y = point.y < 0 ? 0 : (point.y >= rows_ ? rows_ - 1 : point.y);
    // 0 <= x < 2^31, 0 <= y < 2^31 and |row stride| <= 2^31, so the offset
    // is exact in 64 bits; it is checked against the region whatever the bit
    // count, since only 24-bit pictures have rows of the stride's length.
    const std::int64_t offset = 3 * x + static_cast<std::int64_t>(row_stride_bytes_) * y;
    if (offset < 0 || offset > size_bytes_ - 3) return;
    std::uint8_t* const pixel = pixels_ + offset;
    pixel[0] = darken(pixel[0]);
    pixel[1] = darken(pixel[1]);
    pixel[2] = darken(pixel[2]);
  }

  // Marks `count` points in order, the geometry in a local: a store through
  // the byte pointer may alias anything, so it would be read again each time.
  [[gnu::noinline]] void mark_all(const Point* points, std::size_t count) const {
    const Canvas local = *this;
    for (std::size_t i = 0; i < count; ++i) local.mark(points[i]);
  }

 private:
  std::uint8_t* pixels_;
  std::int64_t size_bytes_;
  std::int32_t width_;
  std::int64_t rows_;
  std::int32_t row_stride_bytes_;
};

}  // namespace trailavi
