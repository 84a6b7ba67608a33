#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace trailavi {

// A point in pixels: x from the start of a row, y counting rows in the order
// the bitmap stores them.
struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// One piece of the point file and what it holds.
struct ScannedPiece {
  const char* end;  // one past the piece's last character
  bool is_point;    // the point is valid only when this is true
  Point point;
};

namespace detail {

// White space as the C locale's isspace sees it: blank, and \t \n \v \f \r.
constexpr bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// One "%d" conversion inside a piece: white space, an optional sign, at least
// one digit. A line feed is the piece's last character, so skipping white
// space stops there: nothing of the piece follows it. A NUL byte is neither
// space, sign nor digit, so it ends the conversion as the end of a C string
// would. Digits accumulate modulo 2^32 in unsigned arithmetic, which keeps
// the low 32 bits of any value without overflow. On failure `cursor` is left
// where the conversion stopped, never past a line feed.
inline bool scan_decimal(const char*& cursor, const char* limit, std::int32_t& value) {
  const char* p = cursor;
  while (p != limit && is_c_space(*p) && *p != '\n') ++p;
  cursor = p;
  bool negative = false;
  if (p != limit && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == limit || !is_digit(*p)) return false;
  std::uint32_t magnitude = 0;
  do {
    magnitude = magnitude * 10u + static_cast<std::uint32_t>(*p - '0');
    ++p;
  } while (p != limit && is_digit(*p));
  value = static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
  cursor = p;
  return true;
}

}  // namespace detail

// Scans the piece that starts at `begin`: it ends after the first line feed
// before `limit`, or at `limit`. Classifies it exactly as sscanf(piece,
// "%d%d") would on it as a C string: a point when both integers convert, a
// separator line otherwise. Values outside the signed 32-bit range keep the
// low 32 bits of their value, however many digits they have.
inline ScannedPiece scan_piece(const char* begin, const char* limit) {
  ScannedPiece piece{limit, false, {}};
  const char* p = begin;
  piece.is_point = detail::scan_decimal(p, limit, piece.point.x) && detail::scan_decimal(p, limit, piece.point.y);
  // No line feed lies before p, so the piece's end is the first one from p.
  if (p != limit && *p == '\n') {
    piece.end = p + 1;
  } else if (const void* line_feed = std::memchr(p, '\n', static_cast<std::size_t>(limit - p))) {
    piece.end = static_cast<const char*>(line_feed) + 1;
  }
  return piece;
}

// The classification of one whole piece: at most 255 characters, with a line
// feed, if any, only as its last character.
[[nodiscard]] inline bool parse_point_line(std::string_view piece, Point& point) {
  const ScannedPiece scanned = scan_piece(piece.data(), piece.data() + piece.size());
  if (scanned.is_point) point = scanned.point;
  return scanned.is_point;
}

}  // namespace trailavi
