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
// derives from them. One buffer is the stream format (its first
// header_length_bytes: the information header, 40 bytes or a later Windows
// header's length, and the colour table), the canvas and every frame (the
// pixel region, to the end of the file). A negative height: rows top-down.
//
// Built only by parse; read-only after. Invariant: 40 <= header_length_bytes
// <= byte_count, so the format and the pixel region lie inside the buffer.
class BackgroundImage {
 public:
  // Takes the `byte_count` bytes after the file header and derives the colour
  // table, dimensions and row stride, printing report lines 2 to 6.
  // bitmap_read_failed when they are too short for the header and colour
  // table, bitmap_bit_count_unsupported when the bit count defines no table.
  [[nodiscard]] static ExitStatus parse(std::unique_ptr<std::uint8_t[]> bytes, std::int32_t byte_count,
                                        Report& report, BackgroundImage& image);

  [[nodiscard]] std::int32_t header_length_bytes() const { return header_length_bytes_; }
  [[nodiscard]] std::int32_t width() const { return width_; }
  [[nodiscard]] std::int32_t height() const { return height_; }  // as stored: negative when top-down
  // The number of pixel rows: |height|, in 64 bits since -INT32_MIN does not
  // fit 32.
  [[nodiscard]] std::int64_t row_count() const { return height_ < 0 ? -std::int64_t{height_} : height_; }
  [[nodiscard]] std::int32_t row_stride_bytes() const { return row_stride_bytes_; }
  [[nodiscard]] std::int32_t frame_size_bytes() const { return byte_count_ - header_length_bytes_; }

  [[nodiscard]] std::span<const std::uint8_t> format() const {
    return {bytes_.get(), static_cast<std::size_t>(header_length_bytes_)};
  }
  [[nodiscard]] std::span<std::uint8_t> pixels() {
    return {bytes_.get() + header_length_bytes_, static_cast<std::size_t>(frame_size_bytes())};
  }
  void release() { bytes_.reset(); }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::int32_t byte_count_ = 0;
  std::int32_t header_length_bytes_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t row_stride_bytes_ = 0;
};

// Reads TEST_.BMP from the current directory into `image`, printing report
// lines 1 to 6; the bitmap's statuses, bitmap_open_failed and after.
[[nodiscard]] ExitStatus load_background(Report& report, BackgroundImage& image);

// Bytes per pixel row for three bytes a pixel, rounded up to a multiple of 4,
// in the system's signed 32-bit arithmetic with its wrap written out.
[[nodiscard]] std::int32_t row_stride_bytes(std::int32_t width);

}  // namespace trailavi
