#pragma once

#include <cstdint>

#include "base/exit_status.hpp"
#include "base/report.hpp"
#include "input/point_file.hpp"

namespace trailavi {

// What the first pass over the point file finds; the maxima serve the report
// only and never fall below 0.
struct PrescanCounts {
  std::int32_t point_count = 0, separator_count = 0;
  std::int32_t x_max = 0, y_max = 0;
  friend bool operator==(const PrescanCounts&, const PrescanCounts&) = default;
};

// The first pass, in `part_count` parts: counts the lines, prints report lines
// 7 to 9 and sets the file back to its start, or returns data_rewind_failed.
[[nodiscard]] ExitStatus prescan_points(Report& report, PointFile& file, unsigned part_count,
                                        PrescanCounts& counts);

// The counting of the pre-scan alone, from the file's current position.
[[nodiscard]] PrescanCounts count_lines(PointFile& file);

// The same over the file just opened, in `part_count` parts, each but the
// first on a thread of its own, whose counts add up, in file order, to those
// of one count; the file's position stays. Once when the file is not regular.
[[nodiscard]] PrescanCounts count_lines(PointFile& file, unsigned part_count);

}  // namespace trailavi
