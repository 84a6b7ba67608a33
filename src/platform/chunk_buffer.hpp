#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "platform/output_file.hpp"

namespace trailavi::platform {

// Where a chunk or list was opened in a ChunkBuffer: its size field, among
// the buffer's own bytes, and the offset of its payload in the bytes as
// built (a list's payload starts with its type).
struct ChunkMark {
  std::size_t size_field;
  std::uint64_t payload_start;
};

// Builds RIFF chunks in memory, little-endian. Chunks and lists are opened
// and closed through the buffer, so the nesting of begin_/end_chunk calls
// mirrors the nesting of the chunks, and every size is that of the bytes
// as built: end_chunk patches it and adds the pad byte.
//
// Bytes the caller keeps (a frame, the stream format) are referenced, not
// copied: they count in the sizes and come out as ranges of their own
// between the buffer's bytes, to go to the file in one gathered write.
//
// Growing the buffer never throws: when memory cannot be had the buffer
// keeps what it holds, drops everything added after, and says so through
// ok(), which its user checks before writing the bytes anywhere.
class ChunkBuffer {
 public:
  // At most the format and a frame go out in one write.
  static constexpr std::size_t kMaxExternal = 2;
  static constexpr std::size_t kMaxRanges = 2 * kMaxExternal + 1;

  void fourcc(const char (&code)[5]) {
    if (std::uint8_t* out = extend(4)) std::memcpy(out, code, 4);
  }
  void u8(std::uint8_t value) { little_endian(value, 1); }
  void u16(std::uint16_t value) { little_endian(value, 2); }
  void u32(std::uint32_t value) { little_endian(value, 4); }
  void u64(std::uint64_t value) { little_endian(value, 8); }
  void zeros(std::size_t count) {
    if (std::uint8_t* out = extend(count)) std::memset(out, 0, count);
  }
  // Bytes that stay where they are until the buffer has been written.
  void external(std::span<const std::uint8_t> bytes) {
    assert(external_count_ < kMaxExternal);
    external_at_[external_count_] = size_;
    externals_[external_count_++] = bytes;
    external_bytes_ += bytes.size();
  }

  [[nodiscard]] ChunkMark begin_chunk(const char (&code)[5]) {
    fourcc(code);
    const ChunkMark mark{size_, size() + 4};
    u32(0);
    return mark;
  }
  [[nodiscard]] ChunkMark begin_list(const char (&code)[5], const char (&type)[5]) {
    const ChunkMark mark = begin_chunk(code);
    fourcc(type);
    return mark;
  }
  // Closes the chunk or list opened at `mark`: its size is what was added
  // since, and an odd size is followed by a pad byte. What one buffer holds
  // stays far below 4 GiB (a frame is below 2 GiB), so the size fits. A
  // chunk closed `as_junk` becomes JUNK of the same size, all zeros: room
  // kept for what a later rewrite puts there (its payload is the buffer's own).
  void end_chunk(ChunkMark mark, bool as_junk = false) {
    if (as_junk && !failed_) {
      std::memcpy(bytes_.get() + mark.size_field - 4, "JUNK", 4);
      std::memset(bytes_.get() + mark.size_field + 4, 0, size_ - (mark.size_field + 4));
    }
    const std::uint64_t payload_bytes = size() - mark.payload_start;
    set_size(mark, static_cast<std::uint32_t>(payload_bytes));
    if ((payload_bytes & 1) != 0) u8(0);
  }
  // The size of a chunk whose payload goes out in later writes, or of a list
  // that goes on in the file, as measured there.
  void set_size(ChunkMark mark, std::uint32_t payload_bytes) {
    if (!failed_) store_little_endian(bytes_.get() + mark.size_field, payload_bytes, 4);
  }

  // False once an addition could not be stored; the bytes are then incomplete.
  [[nodiscard]] bool ok() const { return !failed_; }
  // All bytes as built: the buffer's own and the referenced ones.
  [[nodiscard]] std::uint64_t size() const { return size_ + external_bytes_; }
  // The bytes as built, in order, as ranges for one gathered write; returns
  // how many of `out` it filled.
  std::size_t ranges(ByteRange (&out)[kMaxRanges]) const {
    std::size_t count = 0;
    std::size_t from = 0;
    const auto add = [&](const void* data, std::size_t bytes) {
      if (bytes > 0) out[count++] = {data, bytes};
    };
    for (std::size_t i = 0; i < external_count_; ++i) {
      add(bytes_.get() + from, external_at_[i] - from);
      add(externals_[i].data(), externals_[i].size());
      from = external_at_[i];
    }
    add(bytes_.get() + from, size_ - from);
    return count;
  }
  // Keeps the storage, and a failure, for the next use.
  void clear() {
    size_ = 0;
    external_count_ = 0;
    external_bytes_ = 0;
  }

 private:
  static void store_little_endian(std::uint8_t* out, std::uint64_t value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  void little_endian(std::uint64_t value, std::size_t count) {
    if (std::uint8_t* out = extend(count)) store_little_endian(out, value, count);
  }

  // Room for `count` more bytes, or null when it cannot be had. The buffers
  // built here stay far below SIZE_MAX / 2 (the largest is a header with a
  // super index of at most 1 MiB), so the doubling cannot overflow.
  std::uint8_t* extend(std::size_t count) {
    if (failed_) return nullptr;
    if (count > capacity_ - size_) {
      const std::size_t capacity = std::max(std::max<std::size_t>(256, 2 * capacity_), size_ + count);
      std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow) std::uint8_t[capacity]);
      if (!grown) {
        failed_ = true;
        return nullptr;
      }
      if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
      bytes_ = std::move(grown);
      capacity_ = capacity;
    }
    std::uint8_t* const out = bytes_.get() + size_;
    size_ += count;
    return out;
  }

  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::span<const std::uint8_t> externals_[kMaxExternal];
  std::size_t external_at_[kMaxExternal] = {};  // where each goes among the buffer's own bytes
  std::size_t external_count_ = 0;
  std::uint64_t external_bytes_ = 0;
  bool failed_ = false;
};

}  // namespace trailavi::platform
