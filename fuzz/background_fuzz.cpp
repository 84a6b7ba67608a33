// The bitmap stage on arbitrary bytes: the fuzzer's input is TEST_.BMP. A
// load either refuses the file with status 5 or 6 after report line 1, or
// gives a geometry whose format and pixel region are exactly the file's
// bytes after the colour table, and into which points at the picture's
// corners and at the far ends of the 32-bit range can be marked without
// touching anything outside the pixel region.

#include <cinttypes>
#include <cstring>

#include "base/int32_wrap.hpp"
#include "fuzz_support.hpp"
#include "input/background_image.hpp"
#include "movie/point_marking.hpp"

namespace {

using trailavi::BackgroundImage;
using trailavi::ExitStatus;
using trailavi::Point;
namespace fuzz = trailavi::fuzz;

constexpr std::size_t kMaxInputBytes = 1 << 20;

std::uint32_t u32_at(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

// The header's length as the README states the rule: a later Windows
// header's own size, otherwise 40; then the colour table. 0 for a bit count
// with no colour table.
std::uint64_t expected_header_bytes(std::string_view info) {
  const std::uint32_t size_field = u32_at(info, 0);
  const bool later_header = size_field == 52 || size_field == 56 || size_field == 108 || size_field == 124;
  const std::uint64_t info_bytes = later_header ? size_field : 40;
  const std::uint32_t clr_used = u32_at(info, 32);
  const auto bit_count = static_cast<std::uint16_t>(static_cast<std::uint8_t>(info[14]) |
                                                     static_cast<std::uint8_t>(info[15]) << 8);
  const std::uint32_t compression = u32_at(info, 16);
  std::uint64_t table_bytes = 4 * std::uint64_t{clr_used};
  if (clr_used == 0) {
    switch (bit_count) {
      case 1: table_bytes = 8; break;
      case 4: table_bytes = 64; break;
      case 8: table_bytes = 1024; break;
      case 24: table_bytes = 0; break;
      case 16:
      case 32: table_bytes = compression != 0 && !later_header ? 12 : 0; break;
      default: return 0;
    }
  }
  return info_bytes + table_bytes;
}

// The load's outcome: too short for the 40-byte header, a bit count with no
// colour table, a header or table past the end.
ExitStatus expected_status(std::string_view file) {
  if (file.size() < 14 + 40) return ExitStatus::bitmap_read_failed;
  const std::uint64_t header_bytes = expected_header_bytes(file.substr(14));
  if (header_bytes == 0) return ExitStatus::bitmap_bit_count_unsupported;
  return header_bytes > file.size() - 14 ? ExitStatus::bitmap_read_failed : ExitStatus::ok;
}

// The corners, the middle and the ends of the range; the picture's size is
// any 32-bit value, so "size - 1" wraps as the 32-bit arithmetic does.
void mark_extremes(BackgroundImage& image) {
  const std::int32_t w = image.width();
  const std::int32_t h = image.height();
  const std::int32_t w1 = trailavi::wrapping_add(w, -1);
  const std::int32_t h1 = trailavi::wrapping_add(h, -1);
  const Point points[] = {{0, 0},     {w1, h1},   {w, h},     {w1, 0},    {0, h1},         {w / 2, h / 2},
                          {-1, -1},   {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}, {INT32_MAX, 0}, {0, INT32_MAX}};
  const trailavi::Canvas canvas(image);
  for (const Point& point : points) canvas.mark(point);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::enter_scratch_dir(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInputBytes) return 0;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  fuzz::write_file(trailavi::kBackgroundFileName, file);

  fuzz::CapturedOutput output;
  trailavi::Report report(output.stream());
  BackgroundImage image;
  const ExitStatus status = trailavi::load_background(report, image);
  const std::vector<std::string> lines = fuzz::split_lines(output.text());

  const ExitStatus expected = expected_status(file);
  FUZZ_CHECK(status == expected, "status %d, expected %d\n", static_cast<int>(status), static_cast<int>(expected));
  const std::string fsize = "fsize: " + std::to_string(static_cast<std::int64_t>(size) - 14);
  FUZZ_CHECK(!lines.empty() && lines[0] == fsize, "first report line is not %s\n", fsize.c_str());
  if (status != ExitStatus::ok) {
    FUZZ_CHECK(lines.size() == 1, "%zu report lines after a refusal\n", lines.size());
    return 0;
  }
  FUZZ_CHECK(lines.size() == 7, "%zu report lines after a load\n", lines.size());

  // The buffer is the file after its first 14 bytes; the format and the
  // pixel region split it at the header length.
  const auto byte_count = static_cast<std::int32_t>(size - 14);
  FUZZ_CHECK(image.header_length_bytes() >= 40 && image.header_length_bytes() <= byte_count);
  FUZZ_CHECK(static_cast<std::uint64_t>(image.header_length_bytes()) == expected_header_bytes(file.substr(14)));
  FUZZ_CHECK(image.frame_size_bytes() == byte_count - image.header_length_bytes());
  const std::string_view format = file.substr(14, static_cast<std::size_t>(image.header_length_bytes()));
  const std::string_view pixels = file.substr(14 + static_cast<std::size_t>(image.header_length_bytes()));
  FUZZ_CHECK(image.format().size() == format.size() &&
             std::memcmp(image.format().data(), format.data(), format.size()) == 0);
  FUZZ_CHECK(image.pixels().size() == pixels.size() &&
             (pixels.empty() || std::memcmp(image.pixels().data(), pixels.data(), pixels.size()) == 0));

  // Marks change the pixel region only, each at most three bytes of it.
  mark_extremes(image);
  FUZZ_CHECK(std::memcmp(image.format().data(), format.data(), format.size()) == 0, "a mark changed the format\n");
  std::size_t changed = 0;
  for (std::size_t i = 0; i < pixels.size(); ++i) changed += image.pixels()[i] != static_cast<std::uint8_t>(pixels[i]);
  FUZZ_CHECK(changed <= 3 * 11, "%zu bytes changed by 11 marks\n", changed);
  return 0;
}
