#pragma once

#include <cstdint>

#include "base/exit_status.hpp"
#include "base/report.hpp"
#include "input/pass_threads.hpp"
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

// The first pass over the open point file: counts its lines, prints report
// lines 7 to 9 and sets the file back to its start. data_rewind_failed when
// it cannot be set back.
[[nodiscard]] ExitStatus prescan_points(Report& report, PointFile& file, const PassThreads& threads,
                                        PrescanCounts& counts);

// The counting of the pre-scan alone, from the file's current position.
[[nodiscard]] PrescanCounts count_lines(PointFile& file);

// The same counting over the file just opened, in as many parts as
// `threads` allows, each counted on a thread of its own: the counts of the
// parts add up, in file order, to those of one count, and the parts after
// one whose data was cut short (a 0x1A, a failed read) count nothing. The
// file's own position stays where it is.
[[nodiscard]] PrescanCounts count_lines(PointFile& file, const PassThreads& threads);

}  // namespace trailavi
