// Marking points into the canvas: the darkening, the clamping, and the
// guarantee that no mark lands outside the pixel region.

#include <gtest/gtest.h>

#include <vector>

#include "movie/point_marking.hpp"
#include "support/bitmap_builder.hpp"
#include "support/parse_bitmap.hpp"

namespace trailavi {
namespace {

// A 24-bit picture of `frame_bytes` pixel bytes after a 40-byte header, each
// byte `fill`, as the bitmap stage builds it from a file's bytes.
BackgroundImage canvas(std::int32_t width, std::int32_t height, std::int32_t frame_bytes, std::uint8_t fill = 255) {
  std::vector<std::uint8_t> file = test::bitmap_bytes({.width = width, .height = height, .pixels = {0}});
  file.resize(14 + 40);
  file.resize(14 + 40 + static_cast<std::size_t>(frame_bytes), fill);
  BackgroundImage image;
  std::string report;
  EXPECT_EQ(test::parse_bitmap_file(file, image, report), ExitStatus::ok);
  return image;
}

std::vector<std::uint8_t> pixels_of(BackgroundImage& image) {
  auto pixels = image.pixels();
  return {pixels.begin(), pixels.end()};
}

// The whole buffer: the header in front of the pixel region, then the region.
std::vector<std::uint8_t> all_bytes_of(BackgroundImage& image) {
  std::vector<std::uint8_t> bytes(image.format().begin(), image.format().end());
  bytes.insert(bytes.end(), image.pixels().begin(), image.pixels().end());
  return bytes;
}

TEST(Darken, LowersEachByteBy127WithAFloorOfZero) {
  const std::pair<int, int> cases[] = {{0, 0}, {126, 0}, {127, 0}, {128, 1}, {200, 73}, {254, 127}, {255, 128}};
  for (const auto& [before, after] : cases) EXPECT_EQ(darken(static_cast<std::uint8_t>(before)), after) << before;
}

TEST(MarkPoint, RepeatedMarksAccumulate) {
  BackgroundImage image = canvas(2, 1, 8);
  const int expected[] = {128, 1, 0, 0};
  for (int expected_value : expected) {
    Canvas(image).mark({1, 0});
    EXPECT_EQ(image.pixels()[3], expected_value);
    EXPECT_EQ(image.pixels()[5], expected_value);
  }
  EXPECT_EQ(image.pixels()[2], 255);  // the neighbour's bytes and the row padding stay
  EXPECT_EQ(image.pixels()[6], 255);
}

TEST(MarkPoint, ClampsIntoThePictureAtBothEnds) {
  struct Case {
    Point point;
    std::size_t first_byte;  // of the pixel that must change, in a 3 x 2 picture (stride 12)
    std::int32_t height = 2;  // -2: the same two rows stored top-down, y = 0 still the first stored
  };
  const Case cases[] = {
      {{0, 0}, 0},       {{2, 1}, 18},        {{13, 12}, 18},     {{3, 0}, 6},
      {{-5, 1}, 12},     {{1, -7}, 3},        {{INT32_MIN, INT32_MIN}, 0},
      {{INT32_MAX, INT32_MAX}, 18},
      {{0, 0}, 0, -2},   {{2, 1}, 18, -2},    {{13, 12}, 18, -2}, {{1, -7}, 3, -2},
  };
  for (const Case& c : cases) {
    BackgroundImage image = canvas(3, c.height, 24);
    Canvas(image).mark(c.point);
    std::vector<std::uint8_t> expected(24, 255);
    for (std::size_t i = 0; i < 3; ++i) expected[c.first_byte + i] = 128;
    EXPECT_EQ(pixels_of(image), expected) << c.point.x << "," << c.point.y << " height " << c.height;
  }
}

TEST(MarkPoint, NeverTouchesBytesOutsideThePixelRegion) {
  struct Case {
    const char* name;
    std::int32_t width, height, frame_bytes;
    Point point;
    bool marks;
  };
  const Case cases[] = {
      {"no columns", 0, 5, 64, {0, 0}, false},
      {"no rows", 5, 0, 64, {0, 0}, false},
      {"negative width", -4, 2, 64, {1, 1}, false},
      {"empty region", 4, 2, 0, {0, 0}, false},
      {"region shorter than one pixel", 4, 2, 2, {0, 0}, false},
      {"8-bit sized region, far pixel", 8, 8, 64, {7, 7}, false},
      {"8-bit sized region, near pixel", 8, 8, 64, {3, 1}, true},
      {"last three bytes exactly", 1, 1, 3, {0, 0}, true},
      {"huge width wraps the stride negative", INT32_MAX, 2, 16, {0, 1}, false},
      {"top-down, 2^31 rows: the last is far outside", 1, INT32_MIN, 8, {0, INT32_MAX}, false},
      {"top-down, 2^31 rows: the first is inside", 1, INT32_MIN, 8, {0, 0}, true},
  };
  for (const Case& c : cases) {
    BackgroundImage image = canvas(c.width, c.height, c.frame_bytes);
    const std::vector<std::uint8_t> before = all_bytes_of(image);
    Canvas(image).mark(c.point);
    const std::vector<std::uint8_t> after = all_bytes_of(image);
    EXPECT_EQ(before != after, c.marks) << c.name;
    // The header in front of the region is never changed.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 40, after.begin())) << c.name;
  }
}

}  // namespace
}  // namespace trailavi
