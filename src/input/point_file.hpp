#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

namespace trailavi {

inline constexpr const char* kPointFileName = "test_.dat";

// The point data file, read in pieces of at most 255 characters with the
// text rules applied by us on every platform: every carriage return is
// dropped wherever it stands, and a byte 0x1A ends the data. The file is read
// through one fixed buffer, so memory stays bounded whatever its size.
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
  [[nodiscard]] bool next_piece(std::string_view& piece);

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
