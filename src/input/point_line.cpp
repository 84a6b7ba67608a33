#include "input/point_line.hpp"

namespace trailavi {
namespace {

// White space as the C locale's isspace sees it: blank, and \t \n \v \f \r.
constexpr bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// One "%d" conversion: white space, an optional sign, at least one digit.
// A NUL byte is neither, so it ends the conversion as the end of a C string
// would. Digits accumulate modulo 2^32 (unsigned arithmetic, no overflow),
// which keeps the low 32 bits of any value.
bool scan_decimal(const char*& cursor, const char* end, std::int32_t& value) {
  const char* p = cursor;
  while (p != end && is_c_space(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end || !is_digit(*p)) return false;
  std::uint32_t magnitude = 0;
  do {
    magnitude = magnitude * 10u + static_cast<std::uint32_t>(*p - '0');
    ++p;
  } while (p != end && is_digit(*p));
  value = static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
  cursor = p;
  return true;
}

}  // namespace

bool parse_point_line(std::string_view piece, Point& point) {
  const char* cursor = piece.data();
  const char* const end = cursor + piece.size();
  Point parsed;
  if (!scan_decimal(cursor, end, parsed.x) || !scan_decimal(cursor, end, parsed.y)) return false;
  point = parsed;
  return true;
}

}  // namespace trailavi
