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

bool PointFile::open(const char* path) {
  close();
  // The buffer is had here rather than at construction, so that running out
  // of memory is a file that cannot be opened, not an exception. It is
  // zeroed, so that the bytes the scan reads past the data are never
  // uninitialised, although they never change its result.
  if (!buffer_) {
    buffer_.reset(new (std::nothrow) char[block_bytes_ + kSlackBytes]());
    if (!buffer_) return false;
  }
  file_.reset(std::fopen(path, "rb"));
  if (file_ && os::is_directory(file_.get())) close();
  begin_ = end_ = 0;
  data_ended_ = !file_;
  return file_ != nullptr;
}

void PointFile::close() { file_.reset(); }

bool PointFile::rewind() {
  if (!file_ || os::seek(file_.get(), 0, SEEK_SET) != 0) return false;
  begin_ = end_ = 0;
  data_ended_ = false;
  return true;
}

void PointFile::refill() {
  // At most 255 bytes remain unread, so the move is short and the read
  // always has room.
  const std::size_t kept = end_ - begin_;
  std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
  begin_ = 0;
  end_ = kept;
  const std::size_t wanted = block_bytes_ - kept;
  const std::size_t got = std::fread(buffer_.get() + kept, 1, wanted, file_.get());
  // fread returns short only at the end of the file or on a read error, and
  // both end the data.
  if (got < wanted) data_ended_ = true;
  end_ = kept + got;
  apply_text_rules(kept);
}

void PointFile::apply_text_rules(std::size_t first_new) {
  char* const base = buffer_.get();
  if (void* stop = std::memchr(base + first_new, kEndOfData, end_ - first_new)) {
    end_ = static_cast<std::size_t>(static_cast<char*>(stop) - base);
    data_ended_ = true;
  }
  char* const first_cr = static_cast<char*>(std::memchr(base + first_new, '\r', end_ - first_new));
  if (first_cr == nullptr) return;
  char* const last = std::remove(first_cr, base + end_, '\r');
  end_ = static_cast<std::size_t>(last - base);
}

}  // namespace trailavi
