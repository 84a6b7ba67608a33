#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace trailavi {

// Little-endian fields are assembled byte by byte from the owned buffer, never
// by casting it to a structure. The callers' bounds checks are in
// subtraction form, so that no offset arithmetic can wrap.

// Precondition: offset <= bytes.size() && 2 <= bytes.size() - offset.
[[nodiscard]] constexpr std::uint16_t u16_le(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// Precondition: offset <= bytes.size() && 4 <= bytes.size() - offset.
[[nodiscard]] constexpr std::uint32_t u32_le(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return u16_le(bytes, offset) | static_cast<std::uint32_t>(u16_le(bytes, offset + 2)) << 16;
}

}  // namespace trailavi
