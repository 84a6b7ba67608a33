#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trailavi::test {

// Describes a bitmap file to write: the 14-byte file header, the
// information header (40 bytes, or a later header's length with zeros after
// the first 40), a colour table and the pixel bytes. Defaults give a 24-bit
// bottom-up picture whose rows are padded to the 3-byte stride; a negative
// height stores -height rows top-down.
struct BitmapSpec {
  std::int32_t width = 4;
  std::int32_t height = 2;
  std::uint16_t bit_count = 24;
  std::uint32_t compression = 0;
  std::uint32_t clr_used = 0;
  std::vector<std::uint8_t> colour_table;  // written as given
  std::vector<std::uint8_t> pixels;        // empty: white rows of the stride
  std::vector<std::uint8_t> trailing;      // bytes after the pixels
  std::uint32_t info_header_bytes = 40;    // 108: BITMAPV4HEADER, 124: BITMAPV5HEADER
};

// The stream format a run takes from the file: the information header and
// the colour table.
std::vector<std::uint8_t> format_of(const BitmapSpec& picture);

// The stride the program uses: three bytes a pixel, rounded up to 4.
std::int64_t stride_of(std::int64_t width);

// White (0xFF) pixels, or an asymmetric pattern that shows flips and swaps.
std::vector<std::uint8_t> white_pixels(std::int32_t width, std::int32_t height);
std::vector<std::uint8_t> pattern_pixels(std::int32_t width, std::int32_t height);

std::vector<std::uint8_t> bitmap_bytes(const BitmapSpec& picture);

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
void write_file(const std::string& path, const std::string& text);
std::vector<std::uint8_t> read_file(const std::string& path);

}  // namespace trailavi::test
