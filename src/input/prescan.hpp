#pragma once

#include <cstdint>

#include "input/point_file.hpp"
#include "input/point_line.hpp"
#include "base/exit_status.hpp"
#include "base/report.hpp"

namespace trailavi {

// What the first pass over the point file finds; the maxima serve the report
// only and never fall below 0.
struct PrescanCounts {
  std::int32_t point_count = 0;
  std::int32_t separator_count = 0;
  std::int32_t x_max = 0;
  std::int32_t y_max = 0;
};

// Reads the file from its current position to its end through the piece and
// classification rules, calling on_point(Point) for every point line and
// on_separator() for every other line. on_separator returns false to stop
// the reading there, and for_each_line then returns false.
template <typename OnPoint, typename OnSeparator>
bool for_each_line(PointFile& file, OnPoint&& on_point, OnSeparator&& on_separator) {
  return file.for_each_line([&](const PointLine& line) {
    if (!line.is_point) return on_separator();
    on_point(line.point);
    return true;
  });
}

// Opens test_.dat, counts its lines, prints report lines 7 to 9 and sets the
// file back to its start. Statuses 7 and 8.
[[nodiscard]] ExitStatus prescan_points(Report& report, PointFile& file, PrescanCounts& counts);

// The counting of the pre-scan alone, from the file's current position.
[[nodiscard]] PrescanCounts count_lines(PointFile& file);

}  // namespace trailavi
