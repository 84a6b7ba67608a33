#include "platform/output_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace trailavi::platform {
namespace {

// An append has at most five ranges (the writer's bytes around the format
// and a frame); the pending block makes six.
constexpr std::size_t kMaxParts = 8;

std::uint64_t total_size(std::span<const ByteRange> parts) {
  std::uint64_t total = 0;
  for (const ByteRange& part : parts) total += part.size;
  return total;
}

#ifdef _WIN32

// The C runtime has no gathered write; each range goes in writes of at most
// 1 GiB, which _write's unsigned count always holds.
bool write_ranges(int descriptor, std::span<const ByteRange> parts) {
  for (const ByteRange& part : parts) {
    auto* next = static_cast<const char*>(part.data);
    std::size_t left = part.size;
    while (left > 0) {
      const unsigned chunk = static_cast<unsigned>(left < (1u << 30) ? left : (1u << 30));
      const int written = _write(descriptor, next, chunk);
      if (written <= 0) return false;
      next += written;
      left -= static_cast<std::size_t>(written);
    }
  }
  return true;
}

bool seek_to(int descriptor, std::uint64_t offset) {
  return _lseeki64(descriptor, static_cast<__int64>(offset), SEEK_SET) >= 0;
}

int open_for_writing(const char* path) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

int close_descriptor(int descriptor) { return _close(descriptor); }

#else

// Fills `vectors` with what is still to be written of `parts` after `done`
// bytes; returns how many entries it used.
int remaining_vectors(std::span<const ByteRange> parts, std::uint64_t done, iovec* vectors) {
  int used = 0;
  for (const ByteRange& part : parts) {
    if (done >= part.size) {
      done -= part.size;
      continue;
    }
    vectors[used].iov_base = const_cast<char*>(static_cast<const char*>(part.data)) + done;
    vectors[used].iov_len = part.size - static_cast<std::size_t>(done);
    done = 0;
    ++used;
  }
  return used;
}

// One gathered system call for all ranges; the loop only continues after a
// short write (a signal, or a write larger than the kernel takes at once).
// `offset` < 0 writes at the file position, otherwise at that offset.
bool gathered_write(int descriptor, std::span<const ByteRange> parts, std::int64_t offset) {
  if (parts.size() > kMaxParts) return false;
  const std::uint64_t total = total_size(parts);
  std::uint64_t done = 0;
  while (done < total) {
    iovec vectors[kMaxParts];
    const int count = remaining_vectors(parts, done, vectors);
    const ssize_t written =
        offset < 0 ? ::writev(descriptor, vectors, count)
                   : ::pwritev(descriptor, vectors, count, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::uint64_t>(written);
  }
  return true;
}

// Created, or emptied when it holds anything. An empty file is not
// truncated again: on ext4, closing a file truncated to nothing starts
// writing all its data out (auto_da_alloc), a good part of a large video's run.
int open_for_writing(const char* path) {
  const int descriptor = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  struct stat info {};
  if (descriptor < 0 || (::fstat(descriptor, &info) == 0 && info.st_size == 0) || ::ftruncate(descriptor, 0) == 0) {
    return descriptor;
  }
  ::close(descriptor);
  return -1;
}

int close_descriptor(int descriptor) { return ::close(descriptor); }

#endif

}  // namespace

OutputFile::~OutputFile() {
  if (descriptor_ >= 0) close_descriptor(descriptor_);
}

// The descriptor is -1 until create succeeds and after close, so every
// operation on a file not open fails.
bool OutputFile::create(const char* path) {
  descriptor_ = open_for_writing(path);
  end_offset_ = 0;
  pending_bytes_ = 0;
  return descriptor_ >= 0;
}

bool OutputFile::append(std::span<const ByteRange> parts) {
  if (descriptor_ < 0) return false;
  const std::uint64_t size = total_size(parts);
  if (!(size < kGatherBelowBytes ? gather(parts) : write_out(parts))) return false;
  end_offset_ += size;
  return true;
}
// Precondition: the parts add up to less than kGatherBelowBytes, which is
// below the pending block's capacity, so after a flush they always fit.
bool OutputFile::gather(std::span<const ByteRange> parts) {
  if (!pending_) {
    pending_.reset(new (std::nothrow) std::uint8_t[kPendingCapacityBytes]);
    if (!pending_) return write_out(parts);
  }
  if (total_size(parts) > kPendingCapacityBytes - pending_bytes_ && !flush_pending()) return false;
  for (const ByteRange& part : parts) {
    if (part.size == 0) continue;
    std::memcpy(pending_.get() + pending_bytes_, part.data, part.size);
    pending_bytes_ += part.size;
  }
  return true;
}

// The pending block, then the parts, in one gathered call.
bool OutputFile::write_out(std::span<const ByteRange> parts) {
  ByteRange all[kMaxParts];
  if (parts.size() >= kMaxParts) return false;
  all[0] = {pending_.get(), pending_bytes_};
  std::copy(parts.begin(), parts.end(), all + 1);
  const std::span<const ByteRange> ranges(all, parts.size() + 1);
#ifdef _WIN32
  if (!write_ranges(descriptor_, ranges)) return false;
#else
  if (!gathered_write(descriptor_, ranges, -1)) return false;
#endif
  pending_bytes_ = 0;
  return true;
}

bool OutputFile::flush_pending() { return pending_bytes_ == 0 || write_out({}); }

bool OutputFile::write_at(std::uint64_t offset, std::span<const ByteRange> parts) {
  if (descriptor_ < 0) return false;
  const std::uint64_t size = total_size(parts);
  if (offset > end_offset_ || size > end_offset_ - offset) return false;
  // A patch may cover bytes still pending, so they go out first.
  if (!flush_pending()) return false;
#ifdef _WIN32
  return seek_to(descriptor_, offset) && write_ranges(descriptor_, parts) && seek_to(descriptor_, end_offset_);
#else
  return gathered_write(descriptor_, parts, static_cast<std::int64_t>(offset));
#endif
}

bool OutputFile::close() {
  if (descriptor_ < 0) return false;
  const bool flushed = flush_pending();
  const int descriptor = descriptor_;
  descriptor_ = -1;
  const bool closed = close_descriptor(descriptor) == 0;
  return flushed && closed;
}

}  // namespace trailavi::platform
