// The point file reader and the line classifier on arbitrary bytes, read
// with a block size the input chooses: the pieces must be those of the
// plain model of the text rules, each piece's classification must be what
// sscanf gives for "%d%d" on it as a C string, every classifier entry
// point must agree, reading nothing outside its buffers, and the pre-scan
// split into parts must count what one reading counts.
//
// Input: two bytes of block size (little-endian; the reader raises any size
// below its minimum), one byte saying after how many pieces (1 to 256) a first,
// stopped pass ends, then the file's bytes. The pre-scan's parts, 2 to 4,
// come from the block size's high bits: more parts only start more threads,
// which slow the fuzzing several times over.

#include <cstring>
#include <memory>

#include "fuzz_support.hpp"
#include "input/point_file.hpp"
#include "input/prescan.hpp"
#include "support/parse_point_line.hpp"
#include "support/text_rules_model.hpp"

namespace {

using trailavi::Point;
using trailavi::PointFile;
namespace fuzz = trailavi::fuzz;

struct Classified {
  std::string piece;
  bool is_point = false;
  Point point;
};

// The longest digit run, leading zeros left out, that sscanf sees: the piece
// up to its first NUL.
std::size_t longest_significant_digits(const char* text) {
  std::size_t longest = 0;
  std::size_t run = 0;
  bool in_number = false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') {
      if (!in_number) run = 0;
      in_number = true;
      if (run > 0 || *p != '0') ++run;
      longest = std::max(longest, run);
    } else {
      in_number = false;
    }
  }
  return longest;
}

// What the C library makes of the piece. The count of conversions holds
// whatever the values; the values are compared where the C library's are
// exact: "%d" while every digit run is within the 32-bit range, "%lld" and
// its low 32 bits while every run is within the 64-bit range.
void check_against_sscanf(const Classified& line) {
  const char* text = line.piece.c_str();
  int x = 0;
  int y = 0;
  const bool expected = std::sscanf(text, "%d%d", &x, &y) == 2;
  FUZZ_CHECK(line.is_point == expected, "piece of %zu bytes: reader says %d, sscanf %d\n", line.piece.size(),
             line.is_point, expected);
  if (!expected) return;
  const std::size_t digits = longest_significant_digits(text);
  if (digits <= 9) {
    FUZZ_CHECK(line.point == (Point{x, y}), "point (%d, %d), sscanf (%d, %d)\n", line.point.x, line.point.y, x, y);
  } else if (digits <= 18) {
    long long wide_x = 0;
    long long wide_y = 0;
    FUZZ_CHECK(std::sscanf(text, "%lld%lld", &wide_x, &wide_y) == 2);
    const Point low_bits{static_cast<std::int32_t>(wide_x), static_cast<std::int32_t>(wide_y)};
    FUZZ_CHECK(line.point == low_bits, "point (%d, %d), low 32 bits of sscanf (%d, %d)\n", line.point.x,
               line.point.y, low_bits.x, low_bits.y);
  }
}

// Each entry point on a copy of the piece in a buffer of just the size it
// is documented to need, so that any read past it is caught: the whole-piece
// parser needs nothing beyond the piece, the line classifier 24 bytes from
// its start. The bytes after the piece are digits, which a scan that looked
// at them would take.
void check_entry_points(const Classified& line) {
  const std::size_t size = line.piece.size();
  const std::unique_ptr<char[]> exact(new char[std::max<std::size_t>(size, 1)]);
  std::memcpy(exact.get(), line.piece.data(), size);
  Point point;
  const bool parsed = trailavi::test::parse_point_line(std::string_view(exact.get(), size), point);
  FUZZ_CHECK(parsed == line.is_point && (!parsed || point == line.point), "parse_point_line disagrees\n");


  if (size == 0 || line.piece.back() != '\n') return;
  const std::size_t padded = std::max<std::size_t>(size, 24);
  const std::unique_ptr<char[]> line_buffer(new char[padded]);
  std::memset(line_buffer.get(), '7', padded);
  std::memcpy(line_buffer.get(), line.piece.data(), size);
  const char* const begin = line_buffer.get();
  point = Point{};
  const bool classified = trailavi::classify_line(begin, begin + size - 1, begin + padded, point);
  FUZZ_CHECK(classified == line.is_point && (!classified || point == line.point), "classify_line disagrees\n");
}

std::vector<Classified> read_pieces(PointFile& file, std::size_t stop_after, bool& completed) {
  std::vector<Classified> lines;
  completed = file.for_each_line([&](const trailavi::PointLine& line) {
    lines.push_back({std::string(line.text), line.is_point, line.is_point ? line.point : Point{}});
    return lines.size() < stop_after;
  });
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::enter_scratch_dir(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const std::uint16_t block_word = input.u16();
  const std::size_t block_bytes = block_word % 4096;
  const unsigned parts = 2u + (block_word >> 12) % 3u;
  const std::size_t stop_after = std::size_t{input.u8()} + 1;
  const std::string_view raw = input.rest();
  fuzz::write_file(trailavi::kPointFileName, raw);
  const std::vector<std::string> model = trailavi::test::model_pieces(raw);

  PointFile file(block_bytes);
  FUZZ_CHECK(file.open(trailavi::kPointFileName));
  // A pass stopped part way, then the rewind, then the whole file, as the
  // run reads it twice.
  bool completed = false;
  const std::vector<Classified> first = read_pieces(file, stop_after, completed);
  FUZZ_CHECK(completed == (model.size() < stop_after), "stopped pass completed %d with %zu pieces of %zu\n",
             completed, first.size(), model.size());
  FUZZ_CHECK(first.size() == std::min(model.size(), stop_after));
  FUZZ_CHECK(file.rewind());
  const std::vector<Classified> lines = read_pieces(file, SIZE_MAX, completed);
  FUZZ_CHECK(completed);
  FUZZ_CHECK(lines.size() == model.size(), "%zu pieces, the model has %zu\n", lines.size(), model.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    FUZZ_CHECK(lines[i].piece == model[i], "piece %zu differs from the model\n", i);
    if (i < first.size()) {
      FUZZ_CHECK(first[i].piece == lines[i].piece && first[i].is_point == lines[i].is_point &&
                 first[i].point == lines[i].point, "piece %zu differs between the passes\n", i);
    }
    check_against_sscanf(lines[i]);
    check_entry_points(lines[i]);
  }

  // The pre-scan, whole and in parts whose boundaries fall wherever the
  // file's size puts them.
  PointFile whole(block_bytes);
  FUZZ_CHECK(whole.open(trailavi::kPointFileName));
  const trailavi::PrescanCounts one_reading = trailavi::count_lines(whole);
  PointFile split(block_bytes);
  FUZZ_CHECK(split.open(trailavi::kPointFileName));
  const trailavi::PrescanCounts in_parts =
      trailavi::count_lines(split, parts);
  FUZZ_CHECK(in_parts == one_reading, "%u parts count %d points and %d separators, one reading %d and %d\n", parts,
             in_parts.point_count, in_parts.separator_count, one_reading.point_count, one_reading.separator_count);
  return 0;
}
