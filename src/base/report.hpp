#pragma once

#include <cstdint>
#include <cstdio>

namespace trailavi {

// The console report: nine fixed lines on one text stream, each printed at
// the point of the run that knows its values. Nothing else is ever printed.
class Report {
 public:
  explicit Report(std::FILE* out) : out_(out) {}

  void bitmap_byte_count(std::int32_t byte_count);                      // line 1
  void colour_fields(std::uint32_t clr_used, std::uint16_t bit_count);  // line 2
  void dimensions(std::int32_t width, std::int32_t height);            // line 3
  void row_stride(std::int32_t row_stride_bytes);                       // line 4
  void pixel_array_size(std::int32_t pixel_array_bytes);                // line 5
  void pixel_offset(std::int32_t pixel_offset_bytes);                   // line 6
  void point_count(std::int32_t point_count);                           // line 7
  void frame_count(std::int32_t separator_count);                       // line 8
  void maxima(std::int32_t x_max, std::int32_t y_max);                  // line 9

 private:
  std::FILE* out_;
};

}  // namespace trailavi
