#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace trailavi::platform {

// Builds RIFF chunks in memory, little-endian, byte by byte. The nesting of
// begin_chunk/end_chunk calls mirrors the nesting of the chunks.
//
// Growing the buffer never throws: when memory cannot be had the buffer
// keeps what it holds, drops everything added after, and says so through
// ok(), which its user checks before writing the bytes anywhere.
class ChunkBuffer {
 public:
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

  // A chunk header with a size of `payload_bytes`, for a chunk whose payload
  // is written elsewhere or later.
  void chunk_header(const char (&code)[5], std::uint32_t payload_bytes) {
    fourcc(code);
    u32(payload_bytes);
  }

  // False once an addition could not be stored; the bytes are then incomplete.
  [[nodiscard]] bool ok() const { return !failed_; }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] std::span<const std::uint8_t> bytes() const { return {bytes_.get(), size_}; }
  void clear() { size_ = 0; }  // keeps the storage, and a failure, for the next use

 private:
  void little_endian(std::uint64_t value, std::size_t count) {
    if (std::uint8_t* out = extend(count)) {
      for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
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
  bool failed_ = false;
};

}  // namespace trailavi::platform
