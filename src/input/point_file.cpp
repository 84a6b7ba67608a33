#include "input/point_file.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "os/os.hpp"

namespace trailavi {
namespace {

constexpr char kEndOfData = 0x1A;

}  // namespace

PointFile::PointFile(std::size_t block_bytes) : block_bytes_(std::max(block_bytes, kMinBlockBytes)) {}

bool PointFile::allocate_buffer() {
  // The buffer is had here rather than at construction, so that running out
  // of memory is a file that cannot be opened, not an exception. It is
  // zeroed, so that the bytes the scan reads past the data are never
  // uninitialised, although they never change its result.
  if (!buffer_) buffer_.reset(new (std::nothrow) char[block_bytes_ + kSlackBytes]());
  return buffer_ != nullptr;
}

bool PointFile::open(const char* path) {
  close();
  if (!allocate_buffer()) return false;
  file_.reset(std::fopen(path, "rb"));
  if (file_ && os::is_directory(file_.get())) close();
  begin_ = end_ = 0;
  data_ended_ = !file_;
  cut_short_ = false;
  return file_ != nullptr;
}

bool PointFile::open_part(const PointFile& whole, std::int64_t from, std::int64_t to) {
  close();
  // The whole's block size, which tests choose small to move the refills.
  if (!buffer_) block_bytes_ = whole.block_bytes_;
  if (!allocate_buffer()) return false;
  part_file_ = whole.file_.get();
  begin_ = end_ = 0;
  data_ended_ = cut_short_ = false;
  part_last_line_feed_from_ = to > 0 ? to - 1 : -1;
  part_next_ = find_line_start(from);
  // No line starts within the part when there is none after `from`, or
  // when the first is already the next part's.
  data_ended_ = part_next_ < 0 || (part_last_line_feed_from_ >= 0 && part_next_ > part_last_line_feed_from_);
  cut_short_ = part_next_ == -2;
  return true;
}

std::int64_t PointFile::find_line_start(std::int64_t from) {
  if (from <= 0) return 0;
  // The line feed before the line start may be byte from - 1 itself.
  std::int64_t offset = from - 1;
  for (;;) {
    const std::int64_t got = os::read_at(part_file_, offset, buffer_.get(), block_bytes_);
    if (got < 0) return -2;
    // 0 <= got <= block_bytes_, so the conversion is exact.
    const auto bytes = static_cast<std::size_t>(got);
    if (const void* line_feed = std::memchr(buffer_.get(), '\n', bytes)) {
      return offset + (static_cast<const char*>(line_feed) - buffer_.get()) + 1;
    }
    if (bytes < block_bytes_) return -1;
    offset += got;
  }
}

std::int64_t PointFile::regular_file_size() const {
  std::FILE* const file = file_ ? file_.get() : part_file_;
  return file != nullptr ? os::regular_file_size(file) : -1;
}

void PointFile::close() {
  file_.reset();
  part_file_ = nullptr;
}

bool PointFile::rewind() {
  if (!file_ || os::seek(file_.get(), 0, SEEK_SET) != 0) return false;
  begin_ = end_ = 0;
  data_ended_ = cut_short_ = false;
  return true;
}

std::size_t PointFile::read_part(char* to, std::size_t wanted) {
  const std::int64_t got = os::read_at(part_file_, part_next_, to, wanted);
  if (got < 0) {
    data_ended_ = cut_short_ = true;
    return 0;
  }
  // 0 <= got <= wanted, so the conversion is exact.
  auto bytes = static_cast<std::size_t>(got);
  if (bytes < wanted) data_ended_ = true;  // the end of the file
  // The part's last byte is the first line feed at or after
  // part_last_line_feed_from_, when these bytes reach that far: the search
  // starts there, or at the first byte read when that lies after it.
  if (part_last_line_feed_from_ >= 0 && part_last_line_feed_from_ - part_next_ < got) {
    const std::int64_t skipped = part_last_line_feed_from_ > part_next_ ? part_last_line_feed_from_ - part_next_ : 0;
    const auto search_from = static_cast<std::size_t>(skipped);
    if (const void* line_feed = std::memchr(to + search_from, '\n', bytes - search_from)) {
      bytes = static_cast<std::size_t>(static_cast<const char*>(line_feed) - to) + 1;
      data_ended_ = true;
    }
  }
  part_next_ += static_cast<std::int64_t>(bytes);
  return bytes;
}

void PointFile::refill() {
  // At most 255 bytes remain unread, so the move is short and the read
  // always has room.
  const std::size_t kept = end_ - begin_;
  std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
  begin_ = 0;
  end_ = kept;
  const std::size_t wanted = block_bytes_ - kept;
  std::size_t got = 0;
  if (part_file_ != nullptr) {
    got = read_part(buffer_.get() + kept, wanted);
  } else {
    got = std::fread(buffer_.get() + kept, 1, wanted, file_.get());
    // fread returns short only at the end of the file or on a read error, and
    // both end the data; a failure cuts it short.
    if (got < wanted) {
      data_ended_ = true;
      cut_short_ = std::ferror(file_.get()) != 0;
    }
  }
  end_ = kept + got;
  apply_text_rules(kept);
}

void PointFile::apply_text_rules(std::size_t first_new) {
  char* const base = buffer_.get();
  if (void* stop = std::memchr(base + first_new, kEndOfData, end_ - first_new)) {
    end_ = static_cast<std::size_t>(static_cast<char*>(stop) - base);
    data_ended_ = cut_short_ = true;
  }
  char* const first_cr = static_cast<char*>(std::memchr(base + first_new, '\r', end_ - first_new));
  if (first_cr == nullptr) return;
  char* const last = std::remove(first_cr, base + end_, '\r');
  end_ = static_cast<std::size_t>(last - base);
}

}  // namespace trailavi
