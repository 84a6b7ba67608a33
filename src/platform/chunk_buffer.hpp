#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace trailavi::platform {

// Builds RIFF chunks in memory, little-endian, byte by byte. The nesting of
// begin_chunk/end_chunk calls mirrors the nesting of the chunks.
class ChunkBuffer {
 public:
  void fourcc(const char (&code)[5]) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(code[i]));
  }
  void u8(std::uint8_t value) { bytes_.push_back(value); }
  void u16(std::uint16_t value) {
    for (int shift = 0; shift < 16; shift += 8) bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  void u32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  void u64(std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }

  // A chunk header with a size of `payload_bytes`, for a chunk whose payload
  // is written elsewhere or later.
  void chunk_header(const char (&code)[5], std::uint32_t payload_bytes) {
    fourcc(code);
    u32(payload_bytes);
  }

  [[nodiscard]] std::size_t size() const { return bytes_.size(); }
  [[nodiscard]] std::span<const std::uint8_t> bytes() const { return bytes_; }
  void clear() { bytes_.clear(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace trailavi::platform
