#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "input/point_line.hpp"

namespace trailavi {

inline constexpr const char* kPointFileName = "test_.dat";

// One piece of the point file, classified.
struct PointLine {
  std::string_view piece;
  bool is_point = false;
  Point point;  // valid when is_point
};

// The point data file, read in pieces of at most 255 characters with the
// text rules applied by us on every platform: every carriage return is
// dropped wherever it stands, and a byte 0x1A ends the data. The file is read
// in large blocks through one fixed buffer, so memory stays bounded whatever
// its size, and each piece is classified in the same scan that finds its end.
class PointFile {
 public:
  static constexpr std::size_t kPieceMaxChars = 255;

  PointFile();
  ~PointFile();
  PointFile(const PointFile&) = delete;
  PointFile& operator=(const PointFile&) = delete;

  // Opens the file for reading in binary mode. False when it cannot be
  // opened or is a directory.
  [[nodiscard]] bool open(const char* path);

  // The next piece: ends after a line feed (kept in the piece), after 255
  // characters, or at the end of the data. False at the end of the data,
  // which a read failure also is. The view stays valid until the next call.
  [[nodiscard]] bool next_line(PointLine& line) {
    for (;;) {
      const char* const start = buffer_.get() + begin_;
      const std::size_t available = end_ - begin_;
      // A piece cut short by the buffer's end, rather than by a line feed or
      // by its 255 characters, waits for the next block.
      if (available < kPieceMaxChars && !data_ended_ && std::memchr(start, '\n', available) == nullptr) {
        refill();
        continue;
      }
      if (available == 0) return false;
      const ScannedPiece scanned = scan_piece(start, start + std::min(available, kPieceMaxChars));
      const auto length = static_cast<std::size_t>(scanned.end - start);
      line.piece = std::string_view(start, length);
      line.is_point = scanned.is_point;
      line.point = scanned.point;
      begin_ += length;
      return true;
    }
  }

  // Sets the reading position back to the start. False when the file cannot
  // be positioned (a pipe, say).
  [[nodiscard]] bool rewind();

  void close();

 private:
  // Keeps the unread bytes, moved to the front, and reads more after them.
  void refill();
  // Applies the text rules to the bytes just read, in place.
  void apply_text_rules(std::size_t first_new);

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last text byte in buffer_
  bool data_ended_ = false;
};

}  // namespace trailavi
