#include "input/prescan.hpp"

#include <algorithm>

#include "base/int32_wrap.hpp"

namespace trailavi {

PrescanCounts count_lines(PointFile& file) {
  PrescanCounts counts;
  // The counts wrap in 32 bits on a file of more than 2^31 lines, as the
  // system's signed 32-bit counters do; the increment is written out.
  static_cast<void>(file.for_each_line([&counts](const PointLine& line) {
    if (!line.is_point) {
      counts.separator_count = wrapping_increment(counts.separator_count);
      return true;
    }
    counts.point_count = wrapping_increment(counts.point_count);
    counts.x_max = std::max(counts.x_max, line.point.x);
    counts.y_max = std::max(counts.y_max, line.point.y);
    return true;
  }));
  return counts;
}

ExitStatus prescan_points(Report& report, PointFile& file, PrescanCounts& counts) {
  counts = count_lines(file);
  report.point_count(counts.point_count);
  report.frame_count(counts.separator_count);
  report.maxima(counts.x_max, counts.y_max);
  if (!file.rewind()) return ExitStatus::data_rewind_failed;
  return ExitStatus::ok;
}

}  // namespace trailavi
