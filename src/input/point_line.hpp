#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace trailavi {

// A point in pixels: x from the start of a row, y counting rows in the order
// the bitmap stores them.
struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// One line of the point file as read: at most 255 characters, ending after a
// line feed (kept), after 255 characters, or at the end of the data. A point
// line begins with two integers; every other line is a separator line.
struct PointLine {
  std::string_view text;
  bool is_point = false;
  Point point;  // valid when is_point
};

namespace detail {

constexpr bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// White space as the C locale's isspace sees it (blank, \t \v \f \r), less
// the line feed: a line feed is a line's last character, so skipping white
// space stops there, since nothing of the line follows it.
constexpr bool is_space_within_line(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// How many of the 8 bytes at p are decimal digits before the first that is
// not, as one 64-bit word: each byte b becomes b ^ '0', which is below 10
// exactly for digits; adding 0x76 to its low 7 bits sets bit 7 from 10 on
// and cannot carry into the next byte. Also returns the digits' values.
inline unsigned leading_digits8(const char* p, std::uint64_t& values) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  values = word ^ 0x3030303030303030u;
  const std::uint64_t not_digit =
      (((values & 0x7F7F7F7F7F7F7F7Fu) + 0x7676767676767676u) | values) & 0x8080808080808080u;
  return not_digit == 0 ? 8u : static_cast<unsigned>(std::countr_zero(not_digit)) / 8u;
}

// The value of the first `count` (1 to 8) digit values in `values`, the
// first digit in the lowest byte. Shifting them to the top leaves zero bytes
// below, which read as leading zeros; three multiplications then combine
// pairs, quadruples and halves. The result is below 10^8, well inside 32 bits.
inline std::uint32_t value_of_digits8(std::uint64_t values, unsigned count) {
  std::uint64_t v = values << (8 * (8 - count));
  v = ((v & 0x0F0F0F0F0F0F0F0Fu) * 2561) >> 8;
  v = ((v & 0x00FF00FF00FF00FFu) * 6553601) >> 16;
  return static_cast<std::uint32_t>(((v & 0x0000FFFF0000FFFFu) * 42949672960001u) >> 32);
}

// One "%d" conversion inside a line: white space, an optional sign, at least
// one digit, ending at `limit`. A NUL byte is neither space, sign nor digit,
// so it ends the conversion as the end of a C string would. Digits add up
// modulo 2^32 in unsigned arithmetic, keeping any value's low 32 bits without
// overflow. On failure `cursor` stays where the conversion stopped, never
// past a line feed. Where 8 bytes are readable from the digits on
// (`readable` may lie past `limit`), up to 8 digits go in one word, without
// a branch on their count; bytes read past `limit` are ignored.
[[gnu::always_inline]] inline bool scan_decimal(const char*& cursor, const char* limit, const char* readable, std::int32_t& value) {
  const char* p = cursor;
  while (p != limit && is_space_within_line(*p)) ++p;
  cursor = p;
  bool negative = false;
  if (p != limit && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  std::uint32_t magnitude = 0;
  const auto left = static_cast<std::size_t>(limit - p);
  if (readable - p >= 8) {
    std::uint64_t values = 0;
    unsigned count = leading_digits8(p, values);
    if (count > left) count = static_cast<unsigned>(left);
    if (count == 0) return false;
    magnitude = value_of_digits8(values, count);
    p += count;
    if (count < 8) {
      value = static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
      cursor = p;
      return true;
    }
  } else if (left == 0 || !is_digit(*p)) {
    return false;
  }
  while (p != limit && is_digit(*p)) {
    magnitude = magnitude * 10u + static_cast<std::uint32_t>(*p - '0');
    ++p;
  }
  value = static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
  cursor = p;
  return true;
}

}  // namespace detail

// Classifies [begin, limit) of a line, which hold no line feed (its last
// character lies at or after limit), as sscanf(line, "%d%d") would on the
// line as a C string: a point when both integers convert, a separator line
// otherwise; out-of-range values keep their low 32 bits. Bytes from `limit`
// up to `readable` may be read but never change the result.
inline bool scan_line(const char* begin, const char* limit, const char* readable, Point& point) {
  const char* p = begin;
  return detail::scan_decimal(p, limit, readable, point.x) && detail::scan_decimal(p, limit, readable, point.y);
}

#if defined(__SSE2__)
namespace detail {

// The values of two runs of 1 to 7 digits, at x_digits_at and y_digits_at:
// the steps of value_of_digits8 on both at once, x in the low half of the
// register and y in the high one: pairs of digits in 16-bit lanes (at most
// 99), quadruples in 32-bit lanes (at most 9999), then halves in 64-bit
// lanes. Seven digits at most keep each value below 10^7. Needs 8 readable
// bytes from each.
[[gnu::always_inline]] inline Point two_short_numbers(const char* x_digits_at, unsigned x_digits,
                                                      const char* y_digits_at, unsigned y_digits) {
  // Little-endian, as every processor with SSE2 is.
  std::uint64_t x_word, y_word;
  std::memcpy(&x_word, x_digits_at, 8);
  std::memcpy(&y_word, y_digits_at, 8);
  const std::uint64_t x_values = (x_word ^ 0x3030303030303030u) << (8 * (8 - x_digits));
  const std::uint64_t y_values = (y_word ^ 0x3030303030303030u) << (8 * (8 - y_digits));
  const __m128i values = _mm_set_epi64x(static_cast<long long>(y_values), static_cast<long long>(x_values));
  const __m128i leading = _mm_and_si128(values, _mm_set1_epi16(0x00FF));
  const __m128i pairs = _mm_add_epi16(_mm_mullo_epi16(leading, _mm_set1_epi16(10)), _mm_srli_epi16(values, 8));
  const __m128i quads = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
  const __m128i halves = _mm_add_epi64(_mm_mul_epu32(quads, _mm_set1_epi32(10000)), _mm_srli_epi64(quads, 32));
  return {_mm_cvtsi128_si32(halves), _mm_cvtsi128_si32(_mm_unpackhi_epi64(halves, halves))};
}

// The common line, digits and blanks only, in one 16-byte load: masks say
// where its numbers are, and two of up to 7 digits convert together, one in
// each half of a register. False for any other line (a tab, a sign, a long
// number), which the general scan handles. Needs 24 readable bytes.
[[gnu::always_inline]] inline bool classify_simple_line(const char* begin, std::size_t length, bool& is_point,
                                                        Point& point) {
  if (length > 16) return false;
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
  const __m128i digit_values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit_values, _mm_set1_epi8(9)), digit_values);
  const auto line_bits = static_cast<std::uint32_t>((1u << length) - 1);
  const auto digits = static_cast<std::uint32_t>(_mm_movemask_epi8(is_digit)) & line_bits;
  const auto blanks = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')))) & line_bits;
  if ((digits | blanks) != line_bits) return false;
  // Only digits and blanks: "%d%d" converts exactly when two runs of digits
  // exist, and they are the two values.
  const std::uint32_t run_starts = digits & ~(digits << 1);
  const std::uint32_t later_starts = run_starts & (run_starts - 1);
  if (later_starts == 0) {
    is_point = false;
    return true;
  }
  const unsigned x_at = static_cast<unsigned>(std::countr_zero(run_starts));
  const unsigned y_at = static_cast<unsigned>(std::countr_zero(later_starts));
  const unsigned x_digits = static_cast<unsigned>(std::countr_zero(~(digits >> x_at)));
  const unsigned y_digits = static_cast<unsigned>(std::countr_zero(~(digits >> y_at)));
  if (x_digits > 7 || y_digits > 7) return false;
  point = two_short_numbers(begin + x_at, x_digits, begin + y_at, y_digits);
  is_point = true;
  return true;
}

}  // namespace detail
#endif

// Classifies [begin, limit) as scan_line does, the common short line by a
// faster road where the processor has one. Needs 24 readable bytes.
[[gnu::always_inline]] inline bool classify_line(const char* begin, const char* limit, const char* readable,
                                                 Point& point) {
#if defined(__SSE2__)
  bool is_point = false;
  if (detail::classify_simple_line(begin, static_cast<std::size_t>(limit - begin), is_point, point)) {
    return is_point;
  }
#endif
  return scan_line(begin, limit, readable, point);
}

}  // namespace trailavi
