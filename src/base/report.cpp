#include "base/report.hpp"

#include "base/int32_wrap.hpp"

namespace trailavi {

// Every value is a signed 32-bit integer; int is 32 bits on every target we
// build for, and int{} would refuse a narrowing one, so the braces only name
// the type printf expects.

void Report::bitmap_byte_count(std::int32_t byte_count) { std::fprintf(out_, "fsize: %d\n", int{byte_count}); }

void Report::colour_fields(std::uint32_t clr_used, std::uint16_t bit_count) {
  std::fprintf(out_, "biClrUsed: %d\nbiBitCount: %d\n", int{as_int32(clr_used)}, int{bit_count});
}

void Report::dimensions(std::int32_t width, std::int32_t height) {
  std::fprintf(out_, "width: %d, height: %d\n", int{width}, int{height});
}

void Report::row_stride(std::int32_t row_stride_bytes) { std::fprintf(out_, "lsize: %d\n", int{row_stride_bytes}); }

// "%ld" with a long: the value is the 32-bit product, so a 64-bit long prints
// the same digits as a 32-bit one.
void Report::pixel_array_size(std::int32_t pixel_array_bytes) { std::fprintf(out_, "%ld\n", long{pixel_array_bytes}); }

void Report::pixel_offset(std::int32_t offset_bytes) { std::fprintf(out_, "header1 size: %d\n", int{offset_bytes}); }

void Report::point_count(std::int32_t point_count) { std::fprintf(out_, "number of data: %d\n", int{point_count}); }

void Report::frame_count(std::int32_t separator_count) {
  std::fprintf(out_, "number of frame: %d\n", int{separator_count});
}

void Report::maxima(std::int32_t x_max, std::int32_t y_max) {
  std::fprintf(out_, "xmax: %d, ymax: %d\n", int{x_max}, int{y_max});
  // The last line goes out now, before the long frame pass: a run stopped by
  // a signal, which leaves no buffer to be flushed, still shows its report.
  std::fflush(out_);
}

}  // namespace trailavi
