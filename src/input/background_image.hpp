#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "base/exit_status.hpp"
#include "base/report.hpp"

namespace trailavi {

inline constexpr const char* kBackgroundFileName = "TEST_.BMP";
inline constexpr std::int32_t kBitmapFileHeaderBytes = 14;
inline constexpr std::int32_t kInfoHeaderBytes = 40;

// The bitmap file's bytes after its 14-byte file header, and what the run
// derives from them. One buffer serves as the stream format (its first
// header_length_bytes), the canvas and the source of every frame (its pixel
// region to the end).
//
// The header is the information header (40 bytes, or the length of a later
// Windows header) and the colour table. A negative height means the rows are
// stored top-down.
//
// Invariant once loaded: 40 <= header_length_bytes <= byte_count, so the
// pixel region and frame_size_bytes >= 0 lie inside the buffer.
struct BackgroundImage {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::int32_t byte_count = 0;
  std::int32_t colour_table_size_bytes = 0;
  std::int32_t header_length_bytes = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t row_stride_bytes = 0;
  std::int32_t pixel_region_offset = 0;
  std::int32_t frame_size_bytes = 0;

  [[nodiscard]] std::span<const std::uint8_t> all_bytes() const {
    return {bytes.get(), static_cast<std::size_t>(byte_count)};
  }
  [[nodiscard]] std::span<const std::uint8_t> format() const {
    return all_bytes().first(static_cast<std::size_t>(header_length_bytes));
  }
  [[nodiscard]] std::span<std::uint8_t> pixels() {
    return {bytes.get() + pixel_region_offset, static_cast<std::size_t>(frame_size_bytes)};
  }
  void release() { bytes.reset(); }
};

// Reads TEST_.BMP from the current directory into `image` and derives its
// geometry, printing report lines 1 to 6. Statuses 1 to 6.
[[nodiscard]] ExitStatus load_background(Report& report, BackgroundImage& image);

// The part of the load that works on the buffer alone: the colour table, the
// dimensions and the row stride (report lines 2 to 6). Expects `bytes` and
// `byte_count` set and byte_count >= 40. Statuses 5 and 6.
[[nodiscard]] ExitStatus derive_geometry(Report& report, BackgroundImage& image);

// Bytes per pixel row for three bytes a pixel, rounded up to a multiple of 4,
// in the system's signed 32-bit arithmetic with its wrap written out.
[[nodiscard]] std::int32_t row_stride_bytes(std::int32_t width);

}  // namespace trailavi
