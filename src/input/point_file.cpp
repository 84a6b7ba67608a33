#include "input/point_file.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "os/os.hpp"

namespace trailavi {
namespace {

constexpr char kEndOfData = 0x1A;

}  // namespace

PointFile::PointFile(std::size_t block_bytes) : block_bytes_(std::max(block_bytes, kMinBlockBytes)) {}

bool PointFile::allocate_buffer() {
  // Had here, not at construction, so that no memory is a file that cannot
  // be opened, not an exception; zeroed, so that bytes the scan reads past
  // the data are never uninitialised, though they never change its result.
  if (!buffer_) buffer_.reset(new (std::nothrow) char[block_bytes_ + kSlackBytes]());
  return buffer_ != nullptr;
}

bool PointFile::open(const char* path) {
  close();
  return allocate_buffer() && start(os::open_for_reading(path), 0, -1);
}

bool PointFile::open_part(const PointFile& whole, std::int64_t from, std::int64_t to) {
  close();
  // The whole's block size, which tests choose small to move the refills.
  if (!buffer_) block_bytes_ = whole.block_bytes_;
  return allocate_buffer() && start(whole.reopened(), from, std::max(from, to));
}

bool PointFile::start(os::FileHandle file, std::int64_t part_start, std::int64_t part_end) {
  file_ = std::move(file);
  begin_ = end_ = 0;
  part_next_ = part_start;
  part_end_ = part_end;
  data_ended_ = !file_ || part_next_ == part_end_;
  cut_short_ = false;
  return file_ != nullptr;
}

std::int64_t PointFile::regular_file_size() const { return file_ ? os::regular_file_size(file_.get()) : -1; }

void PointFile::close() {
  file_.reset();
  part_end_ = -1;
}

bool PointFile::rewind() {
  if (!file_ || os::seek(file_.get(), 0, SEEK_SET) != 0) return false;
  begin_ = end_ = 0;
  data_ended_ = cut_short_ = false;
  return true;
}

std::size_t PointFile::read_part(char* to, std::size_t wanted) {
  // part_next_ <= part_end_, so what is left is never negative.
  if (static_cast<std::uint64_t>(part_end_ - part_next_) <= wanted) {
    wanted = static_cast<std::size_t>(part_end_ - part_next_);
    data_ended_ = true;
  }
  const std::int64_t got = os::read_at(file_.get(), part_next_, to, wanted);
  if (got < 0) {
    data_ended_ = cut_short_ = true;
    return 0;
  }
  // 0 <= got <= wanted: the conversion is exact, and a short read is the
  // end of the file.
  if (static_cast<std::size_t>(got) < wanted) data_ended_ = true;
  part_next_ += got;
  return static_cast<std::size_t>(got);
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
  if (part_end_ >= 0) {
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
