#include "platform/output_file.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "os/os.hpp"

namespace trailavi::platform {
namespace {

std::uint64_t total_size(std::span<const ByteRange> parts) {
  std::uint64_t total = 0;
  for (const ByteRange& part : parts) total += part.size;
  return total;
}

}  // namespace

OutputFile::~OutputFile() { if (descriptor_ >= 0) static_cast<void>(os::close_file(descriptor_)); }

// The descriptor is -1 until create succeeds and after close, so every
// operation on a file not open fails.
bool OutputFile::create(const char* path) {
  descriptor_ = os::open_for_writing(path);
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
  ByteRange all[os::kMostRanges];
  if (parts.size() >= os::kMostRanges) return false;
  all[0] = {pending_.get(), pending_bytes_};
  std::copy(parts.begin(), parts.end(), all + 1);
  const std::span<const ByteRange> ranges(all, parts.size() + 1);
  if (!os::write_ranges(descriptor_, ranges)) return false;
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
  return os::write_ranges_at(descriptor_, offset, parts);
}

bool OutputFile::close() {
  if (descriptor_ < 0) return false;
  const bool flushed = flush_pending();
  const int descriptor = descriptor_;
  descriptor_ = -1;
  const bool closed = os::close_file(descriptor);
  return flushed && closed;
}

}  // namespace trailavi::platform
