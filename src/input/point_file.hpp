#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "input/line_feed_finder.hpp"
#include "input/point_line.hpp"
#include "os/os.hpp"

namespace trailavi {

inline constexpr const char* kPointFileName = "test_.dat";

// The point data file, read as lines of at most 255 characters (PointLine)
// with the text rules applied by us everywhere: every carriage return is
// dropped, and a byte 0x1A ends the data. Large blocks through one fixed
// buffer keep memory bounded; each line is classified as its end is found.
class PointFile {
 public:
  static constexpr std::size_t kLineMaxChars = 255;
  // Large enough that a read costs little per byte, small enough to stay in
  // the cache; always far above one line. The slack after it lets the scan
  // read whole words near the end of the data.
  static constexpr std::size_t kDefaultBlockBytes = 256 * 1024;
  static constexpr std::size_t kMinBlockBytes = 2 * kLineMaxChars + 2;
  static constexpr std::size_t kSlackBytes = LineFeedFinder::kBlockBytes;

  // `block_bytes` is how much one read asks for (at least kMinBlockBytes);
  // tests choose small ones to move the block boundaries.
  explicit PointFile(std::size_t block_bytes = kDefaultBlockBytes);
  PointFile(const PointFile&) = delete;
  PointFile& operator=(const PointFile&) = delete;

  // Opens the file for reading in binary mode. False when it cannot be
  // opened, is a directory, or the buffer cannot be allocated.
  [[nodiscard]] bool open(const char* path);

  // Opens bytes [from, to) of the file `whole` has open, through a handle of
  // its own, to be read beside other parts on threads of their own. `from` is
  // a line start (byte 0 or one after a line feed), where every reading
  // begins a piece, so consecutive parts' pieces are the whole file's. False
  // when the file cannot be opened again or the buffer allocated.
  [[nodiscard]] bool open_part(const PointFile& whole, std::int64_t from, std::int64_t to);

  // The file opened again for reads at offsets; nullptr when it cannot be.
  [[nodiscard]] os::FileHandle reopened() const { return os::reopen_for_reading(file_.get()); }

  // Whether the data ended before the end of the file or the part: at a
  // 0x1A, or where a read failed. What follows it is not data.
  [[nodiscard]] bool data_cut_short() const { return cut_short_; }

  // The size of a regular file, which can be read in parts; -1 otherwise.
  [[nodiscard]] std::int64_t regular_file_size() const;

  // Calls visit(const PointLine&) for each line from the current position to
  // the end of the data (a read failure ends it too), the text valid during
  // the call; visit returns false to stop there, and so does this then.
  template <typename Visit>
  bool for_each_line(Visit&& visit) {
    const char* const readable = buffer_.get() + block_bytes_ + kSlackBytes;
    for (;;) {
      const char* p = buffer_.get() + begin_;
      const char* const end = buffer_.get() + end_;
      // A line whose 255-character window lies in the buffer is settled; one
      // nearer its end waits for the next block, unless the data has ended.
      const char* const settled_end =
          data_ended_ ? end : end - std::min<std::size_t>(end_ - begin_, kLineMaxChars);
      LineFeedFinder line_feeds(p, end);
      while (p < settled_end) {
        // Where each line ends is found apart from what it holds, so the
        // classification of one line does not hold up the next.
        const char* const line_feed = line_feeds.next(p);
        PointLine line;
        if (line_feed != end && static_cast<std::size_t>(line_feed - p) < kLineMaxChars) {
          line.is_point = classify_line(p, line_feed, readable, line.point);
          line.text = std::string_view(p, static_cast<std::size_t>(line_feed + 1 - p));
        } else {
          // No line feed in the next 255 characters: the line is those, or
          // the rest of the data; the general scan serves such rare lines.
          const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(end - p), kLineMaxChars);
          line.is_point = scan_line(p, p + length, readable, line.point);
          line.text = std::string_view(p, length);
        }
        p += line.text.size();
        if (!visit(line)) {
          begin_ = static_cast<std::size_t>(p - buffer_.get());
          return false;
        }
      }
      begin_ = static_cast<std::size_t>(p - buffer_.get());
      if (data_ended_) return true;
      refill();
    }
  }

  // Back to the start. False when the file cannot be positioned (a pipe).
  [[nodiscard]] bool rewind();

  void close();

 private:
  // Keeps the unread bytes (at most 255), moved to the front, and reads
  // more after them.
  void refill();
  // The next bytes of a part, at most `wanted`, read into `to`; fewer at
  // the part's end, where the data ends.
  std::size_t read_part(char* to, std::size_t wanted);
  bool allocate_buffer();
  // Reads `file` from here on: a part, [part_start, part_end), or the whole
  // from its position where part_end is -1.
  bool start(os::FileHandle file, std::int64_t part_start, std::int64_t part_end);
  // Applies the text rules to the bytes just read, in place.
  void apply_text_rules(std::size_t first_new);

  os::FileHandle file_;
  std::int64_t part_next_ = 0;  // the offset of a part's next read
  std::int64_t part_end_ = -1;  // and of its end, part_next_ <= part_end_; -1: the whole file
  std::size_t block_bytes_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last text byte in buffer_
  bool data_ended_ = false;
  bool cut_short_ = false;
};

}  // namespace trailavi
