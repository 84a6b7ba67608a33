#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace trailavi {

// Little-endian fields are assembled byte by byte from the owned buffer, never
// by casting it to a structure; the bounds check is in subtraction form so
// that no offset arithmetic can wrap.

[[nodiscard]] constexpr bool has_bytes(std::span<const std::uint8_t> bytes, std::size_t offset,
                                       std::size_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

// Precondition: has_bytes(bytes, offset, 2).
[[nodiscard]] constexpr std::uint16_t u16_le(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// Precondition: has_bytes(bytes, offset, 4).
[[nodiscard]] constexpr std::uint32_t u32_le(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

}  // namespace trailavi
