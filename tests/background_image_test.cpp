// The geometry the bitmap stage derives from the information header.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/background_image.hpp"
#include "support/bitmap_builder.hpp"
#include "support/parse_bitmap.hpp"

namespace trailavi {
namespace {

TEST(RowStride, IsThreeBytesAPixelRoundedUpTo4WithThe32BitWrap) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16},
      {-1, 0}, {-2, 0}, {-3, -4}, {-5, -12},  // truncation toward zero
      {INT32_MAX, INT32_MIN}, {INT32_MIN, -2147483644}, {715827882, -2147483644}, {1431655765, 0},
  };
  for (const auto& [width, stride] : cases) EXPECT_EQ(row_stride_bytes(width), stride) << width;
}

struct HeaderCase {
  const char* name;
  std::int32_t width, height;
  std::uint16_t bit_count;
  std::uint32_t compression, clr_used;
  std::int32_t byte_count;
  ExitStatus status;
  std::int32_t colour_table_bytes;
  std::string report;
  std::uint32_t bi_size = 40;
  std::int32_t header_bytes = 0;  // 0: the 40-byte header and the table
};

// The header's fields, then zeros up to byte_count bytes after the file
// header.
std::vector<std::uint8_t> file_with_header(const HeaderCase& c) {
  std::vector<std::uint8_t> file =
      test::bitmap_bytes({.width = c.width, .height = c.height, .bit_count = c.bit_count, .compression = c.compression,
                          .clr_used = c.clr_used, .pixels = {0}, .info_header_bytes = c.bi_size});
  file.resize(14 + static_cast<std::size_t>(c.byte_count), 0);
  return file;
}

TEST(BackgroundGeometry, FollowsTheColourTableRule) {
  const HeaderCase cases[] = {
      {"24-bit", 4, 2, 24, 0, 0, 64, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 24\nwidth: 4, height: 2\nlsize: 12\n24\nheader1 size: 54\n"},
      {"8-bit full table", 2, 2, 8, 0, 0, 1064 + 16, ExitStatus::ok, 1024,
       "biClrUsed: 0\nbiBitCount: 8\nwidth: 2, height: 2\nlsize: 8\n16\nheader1 size: 1078\n"},
      {"8-bit 16 colours", 2, 2, 8, 0, 16, 104 + 16, ExitStatus::ok, 64,
       "biClrUsed: 16\nbiBitCount: 8\nwidth: 2, height: 2\nlsize: 8\n16\nheader1 size: 118\n"},
      {"1-bit", 8, 1, 1, 0, 0, 52, ExitStatus::ok, 8,
       "biClrUsed: 0\nbiBitCount: 1\nwidth: 8, height: 1\nlsize: 24\n24\nheader1 size: 62\n"},
      {"4-bit", 1, 1, 4, 0, 0, 108, ExitStatus::ok, 64,
       "biClrUsed: 0\nbiBitCount: 4\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 118\n"},
      {"16-bit bitfields", 1, 1, 16, 3, 0, 56, ExitStatus::ok, 12,
       "biClrUsed: 0\nbiBitCount: 16\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 66\n"},
      {"16-bit plain", 1, 1, 16, 0, 0, 44, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 16\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 54\n"},
      {"32-bit bitfields", 1, 1, 32, 3, 0, 56, ExitStatus::ok, 12,
       "biClrUsed: 0\nbiBitCount: 32\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 66\n"},
      {"clr used beats an odd bit count", 1, 1, 7, 0, 1, 44, ExitStatus::ok, 4,
       "biClrUsed: 1\nbiBitCount: 7\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 58\n"},
      {"bit count 2", 1, 1, 2, 0, 0, 44, ExitStatus::bitmap_bit_count_unsupported, 0, ""},
      {"bit count 0", 1, 1, 0, 0, 0, 44, ExitStatus::bitmap_bit_count_unsupported, 0, ""},
      {"table past the end", 2, 2, 8, 0, 0, 1063, ExitStatus::bitmap_read_failed, 0, ""},
      {"table exactly to the end", 0, 0, 8, 0, 0, 1064, ExitStatus::ok, 1024,
       "biClrUsed: 0\nbiBitCount: 8\nwidth: 0, height: 0\nlsize: 0\n0\nheader1 size: 1078\n"},
      {"4 x clr used wraps", 1, 1, 24, 0, 0x40000001, 44, ExitStatus::bitmap_read_failed, 0, ""},
      {"clr used all ones", 1, 1, 24, 0, 0xFFFFFFFF, 64, ExitStatus::bitmap_read_failed, 0, ""},
      {"negative and wrapping sizes", INT32_MAX, -2, 24, 0, 0, 40, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 24\nwidth: 2147483647, height: -2\nlsize: -2147483648\n0\nheader1 size: 54\n"},
      {"V5 header, 24-bit", 7, 5, 24, 0, 0, 124 + 140, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 24\nwidth: 7, height: 5\nlsize: 24\n120\nheader1 size: 138\n", 124, 124},
      {"V4 header holds the masks", 1, 1, 32, 3, 0, 108 + 4, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 32\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 122\n", 108, 108},
      {"V3 header, 16-bit with masks", 1, 1, 16, 3, 0, 56 + 4, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 16\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 70\n", 56, 56},
      {"V2 header, palette after it", 2, 1, 8, 0, 2, 52 + 8 + 4, ExitStatus::ok, 8,
       "biClrUsed: 2\nbiBitCount: 8\nwidth: 2, height: 1\nlsize: 8\n8\nheader1 size: 74\n", 52, 60},
      {"top-down V5", 2, -3, 24, 0, 0, 124 + 24, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 24\nwidth: 2, height: -3\nlsize: 8\n-24\nheader1 size: 138\n", 124, 124},
      {"V5 cut inside its header", 1, 1, 24, 0, 0, 100, ExitStatus::bitmap_read_failed, 0, "", 124},
      {"V5 header, bit count 2", 1, 1, 2, 0, 0, 100, ExitStatus::bitmap_bit_count_unsupported, 0, "", 124},
      {"size 64 is read as 40", 1, 1, 16, 3, 0, 56, ExitStatus::ok, 12,
       "biClrUsed: 0\nbiBitCount: 16\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 66\n", 64},
      {"size 12 is read as 40", 1, 1, 24, 0, 0, 44, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 24\nwidth: 1, height: 1\nlsize: 4\n4\nheader1 size: 54\n", 12},
      {"product keeps its low 32 bits", 1000000, 3000, 24, 0, 0, 40, ExitStatus::ok, 0,
       "biClrUsed: 0\nbiBitCount: 24\nwidth: 1000000, height: 3000\nlsize: 3000000\n410065408\nheader1 size: 54\n"},
  };
  for (const HeaderCase& c : cases) {
    BackgroundImage image;
    std::string report;
    const ExitStatus status = test::parse_bitmap_file(file_with_header(c), image, report);
    EXPECT_EQ(report, c.report) << c.name;
    EXPECT_EQ(status, c.status) << c.name;
    if (status != ExitStatus::ok) continue;
    const std::int32_t header_bytes = c.header_bytes != 0 ? c.header_bytes : 40 + c.colour_table_bytes;
    EXPECT_EQ(image.header_length_bytes(), header_bytes) << c.name;
    EXPECT_EQ(image.frame_size_bytes(), c.byte_count - header_bytes) << c.name;
    EXPECT_EQ(image.format().size(), static_cast<std::size_t>(header_bytes)) << c.name;
  }
}

}  // namespace
}  // namespace trailavi
