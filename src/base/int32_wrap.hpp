#pragma once

#include <cstdint>

namespace trailavi {

// The system counts and measures in signed 32-bit integers and, where a value
// leaves that range, keeps its low 32 bits. These helpers write that wrap out
// in unsigned arithmetic, which is defined for every input; the conversion of
// an out-of-range unsigned value to int32_t is modular since C++20.

[[nodiscard]] constexpr std::int32_t as_int32(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

[[nodiscard]] constexpr std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
  return as_int32(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

[[nodiscard]] constexpr std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
  return as_int32(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

[[nodiscard]] constexpr std::int32_t wrapping_increment(std::int32_t a) { return wrapping_add(a, 1); }

// Where a 32-bit field states a value that may not wrap (a rate, a count),
// a larger value is stated as the largest the field holds.
[[nodiscard]] constexpr std::uint32_t saturate_u32(std::uint64_t value) {
  return value < 0xFFFFFFFFu ? static_cast<std::uint32_t>(value) : 0xFFFFFFFFu;
}

}  // namespace trailavi
