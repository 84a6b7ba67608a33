#include "input/prescan.hpp"

#include <algorithm>
#include <memory>
#include <new>

#include "base/int32_wrap.hpp"
#include "os/os.hpp"

namespace trailavi {

PassThreads PassThreads::of_this_machine() {
  return {.count = std::min(os::usable_cores(), kMostThreads), .least_file_bytes = kLeastFileBytes};
}

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

namespace {

// One part of the file, counted on a thread of its own.
struct Part {
  PointFile reader;
  PrescanCounts counts;
  os::Thread thread;
  bool on_its_thread = false;
};

void count_part(void* part_pointer) {
  Part& part = *static_cast<Part*>(part_pointer);
  part.counts = count_lines(part.reader);
}

// Byte `index` * size / count, without the product: size / count * index <=
// size, and size % count * index < count * count, so neither overflows.
std::int64_t part_boundary(std::int64_t size, unsigned index, unsigned count) {
  return size / count * index + size % count * index / count;
}

// The parts' counts in file order, up to the part whose data was cut short:
// what follows that is not data. The counts are sums modulo 2^32, as one
// count of the whole file wraps.
PrescanCounts combined_in_file_order(const Part* parts, unsigned count) {
  PrescanCounts total;
  for (unsigned k = 0; k < count; ++k) {
    const PrescanCounts& counts = parts[k].counts;
    total.point_count = wrapping_add(total.point_count, counts.point_count);
    total.separator_count = wrapping_add(total.separator_count, counts.separator_count);
    total.x_max = std::max(total.x_max, counts.x_max);
    total.y_max = std::max(total.y_max, counts.y_max);
    if (parts[k].reader.data_cut_short()) break;
  }
  return total;
}

}  // namespace

PrescanCounts count_lines(PointFile& file, const PassThreads& threads) {
  const std::int64_t size = file.regular_file_size();
  if (threads.count < 2 || size < 0 || static_cast<std::uint64_t>(size) < threads.least_file_bytes) {
    return count_lines(file);
  }
  // At least one byte a part, so that the boundaries rise strictly and part
  // k > 0 begins at byte 1 or later; a file of a byte or none is one part.
  const unsigned count = static_cast<unsigned>(std::min<std::int64_t>(threads.count, size));
  if (count < 2) return count_lines(file);
  const std::unique_ptr<Part[]> parts(new (std::nothrow) Part[count]);
  if (!parts) return count_lines(file);
  for (unsigned k = 0; k < count; ++k) {
    const std::int64_t to = k + 1 < count ? part_boundary(size, k + 1, count) : -1;
    if (!parts[k].reader.open_part(file, part_boundary(size, k, count), to)) return count_lines(file);
  }
  // The first part is counted here; a part whose thread cannot be started
  // is counted here too, after it.
  for (unsigned k = 1; k < count; ++k) parts[k].on_its_thread = parts[k].thread.start(count_part, &parts[k]);
  count_part(&parts[0]);
  for (unsigned k = 1; k < count; ++k) {
    parts[k].thread.join();
    if (!parts[k].on_its_thread) count_part(&parts[k]);
  }
  return combined_in_file_order(parts.get(), count);
}

ExitStatus prescan_points(Report& report, PointFile& file, const PassThreads& threads, PrescanCounts& counts) {
  counts = count_lines(file, threads);
  report.point_count(counts.point_count);
  report.frame_count(counts.separator_count);
  report.maxima(counts.x_max, counts.y_max);
  if (!file.rewind()) return ExitStatus::data_rewind_failed;
  return ExitStatus::ok;
}

}  // namespace trailavi
