#include "bitmap_builder.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace trailavi::test {
namespace {

void put_u16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put_u16(out, value & 0xFFFF);
  put_u16(out, value >> 16);
}

}  // namespace

std::int64_t stride_of(std::int64_t width) { return (3 * width + 3) / 4 * 4; }

std::vector<std::uint8_t> white_pixels(std::int32_t width, std::int32_t height) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(stride_of(width) * height), 0xFF);
}

std::vector<std::uint8_t> pattern_pixels(std::int32_t width, std::int32_t height) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride_of(width) * height), 0);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      std::uint8_t* pixel = &pixels[static_cast<std::size_t>(stride_of(width) * y + 3 * x)];
      pixel[0] = static_cast<std::uint8_t>(40 + 7 * x);           // blue grows along the row
      pixel[1] = static_cast<std::uint8_t>(200 - 11 * y);         // green falls by row
      pixel[2] = static_cast<std::uint8_t>(130 + 3 * (x ^ y));    // red mixes both
    }
  }
  return pixels;
}

std::vector<std::uint8_t> bitmap_bytes(const BitmapSpec& picture) {
  const std::vector<std::uint8_t> pixels =
      picture.pixels.empty() ? white_pixels(picture.width, std::abs(picture.height)) : picture.pixels;
  // A size field below 40 still gets the 40 bytes the fields need.
  const std::uint32_t header_bytes = std::max<std::uint32_t>(picture.info_header_bytes, 40);
  const auto offset = static_cast<std::uint32_t>(14 + header_bytes + picture.colour_table.size());
  const auto total = static_cast<std::uint32_t>(offset + pixels.size() + picture.trailing.size());
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  put_u32(out, total);
  put_u32(out, 0);
  put_u32(out, offset);
  put_u32(out, picture.info_header_bytes);
  put_u32(out, static_cast<std::uint32_t>(picture.width));
  put_u32(out, static_cast<std::uint32_t>(picture.height));
  put_u16(out, 1);
  put_u16(out, picture.bit_count);
  put_u32(out, picture.compression);
  put_u32(out, static_cast<std::uint32_t>(pixels.size()));
  put_u32(out, 2835);
  put_u32(out, 2835);
  put_u32(out, picture.clr_used);
  put_u32(out, 0);
  out.resize(out.size() + header_bytes - 40, 0);
  out.insert(out.end(), picture.colour_table.begin(), picture.colour_table.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  out.insert(out.end(), picture.trailing.begin(), picture.trailing.end());
  return out;
}

std::vector<std::uint8_t> format_of(const BitmapSpec& picture) {
  const std::vector<std::uint8_t> file = bitmap_bytes(picture);
  const auto header_end =
      static_cast<std::ptrdiff_t>(14 + std::max<std::uint32_t>(picture.info_header_bytes, 40) + picture.colour_table.size());
  return {file.begin() + 14, file.begin() + header_end};
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void write_file(const std::string& path, const std::string& text) {
  write_file(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace trailavi::test
