#pragma once

#include <cstdint>

#include "base/exit_status.hpp"
#include "base/report.hpp"
#include "input/point_file.hpp"

namespace trailavi {

// What the first pass over the point file finds; the maxima serve the report
// only and never fall below 0.
struct PrescanCounts {
  std::int32_t point_count = 0;
  std::int32_t separator_count = 0;
  std::int32_t x_max = 0;
  std::int32_t y_max = 0;
  friend bool operator==(const PrescanCounts&, const PrescanCounts&) = default;
};

// What reading a file in parts cost, in bytes: those read to find where the
// parts start, and those the parts read.
struct PartReading {
  std::int64_t searched_bytes = 0;
  std::int64_t read_bytes = 0;
};

// The first pass over the open point file, in `part_count` parts: counts its
// lines, prints report lines 7 to 9 and sets the file back to its start.
// data_rewind_failed when it cannot be set back.
[[nodiscard]] ExitStatus prescan_points(Report& report, PointFile& file, unsigned part_count,
                                        PrescanCounts& counts);

// The counting of the pre-scan alone, from the file's current position.
[[nodiscard]] PrescanCounts count_lines(PointFile& file);

// The same counting over the file just opened, in `part_count` parts, each
// but the first counted on a thread of its own: the counts of the parts add
// up, in file order, to those of one count, and the parts after one whose
// data was cut short (a 0x1A, a failed read) count nothing. The file's own
// position stays where it is. One reading when the file is not regular.
[[nodiscard]] PrescanCounts count_lines(PointFile& file, unsigned part_count, PartReading* reading = nullptr);

}  // namespace trailavi
