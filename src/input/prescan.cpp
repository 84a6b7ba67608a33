#include "input/prescan.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/int32_wrap.hpp"
#include "os/os.hpp"

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

constexpr std::int64_t kNoLineStart = -1;
constexpr std::int64_t kReadFailed = -2;

// The first line start in [from, to), 1 <= from < to: the byte after the
// first line feed in [from - 1, to - 1). A line feed at to - 1 starts the
// line at `to`, which the next part's search finds. Bytes past `to` are
// never read, so the searches of all parts read the file once at most.
std::int64_t first_line_start(std::FILE* file, std::int64_t from, std::int64_t to, std::int64_t& searched_bytes) {
  char chunk[4096];
  for (std::int64_t offset = from - 1; offset < to - 1;) {
    // 0 < to - 1 - offset, and the chunk bounds the read.
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(to - 1 - offset, sizeof chunk));
    const std::int64_t got = os::read_at(file, offset, chunk, wanted);
    if (got < 0) return kReadFailed;
    searched_bytes += got;
    if (const void* line_feed = std::memchr(chunk, '\n', static_cast<std::size_t>(got))) {
      return offset + (static_cast<const char*>(line_feed) - chunk) + 1;
    }
    if (static_cast<std::size_t>(got) < wanted) break;  // the end of the file
    offset += got;
  }
  return kNoLineStart;
}

// Where each part starts: starts[k] is the first line start at or after part
// k's boundary, and starts[count] the file's end. A part in which no line
// starts begins where the next does, and reads nothing. False when a read
// fails.
bool find_part_starts(std::FILE* file, std::int64_t size, unsigned count, std::int64_t* starts,
                      std::int64_t& searched_bytes) {
  starts[0] = 0;
  starts[count] = size;
  for (unsigned k = count - 1; k > 0; --k) {
    const std::int64_t found =
        first_line_start(file, part_boundary(size, k, count), part_boundary(size, k + 1, count), searched_bytes);
    if (found == kReadFailed) return false;
    starts[k] = found == kNoLineStart ? starts[k + 1] : found;
  }
  return true;
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

// Counts the parts, the first here and each other on a thread of its own;
// a part whose thread cannot be started is counted here too, after it.
void count_parts(Part* parts, unsigned count) {
  for (unsigned k = 1; k < count; ++k) parts[k].on_its_thread = parts[k].thread.start(count_part, &parts[k]);
  count_part(&parts[0]);
  for (unsigned k = 1; k < count; ++k) {
    parts[k].thread.join();
    if (!parts[k].on_its_thread) count_part(&parts[k]);
  }
}

}  // namespace

PrescanCounts count_lines(PointFile& file, unsigned part_count, PartReading* reading) {
  const std::int64_t size = file.regular_file_size();
  // At least one byte a part, so that the boundaries rise strictly and part
  // k > 0 begins at byte 1 or later; a file of a byte or none is one part.
  // A file that is not regular (size -1) is read once.
  if (std::min<std::int64_t>(size, part_count) < 2) return count_lines(file);
  const auto count = static_cast<unsigned>(std::min<std::int64_t>(size, part_count));
  const std::unique_ptr<Part[]> parts(new (std::nothrow) Part[count]);
  const std::unique_ptr<std::int64_t[]> starts(new (std::nothrow) std::int64_t[count + 1]);
  const os::FileHandle searched = file.reopened();
  PartReading cost;
  if (!parts || !starts || !searched ||
      !find_part_starts(searched.get(), size, count, starts.get(), cost.searched_bytes)) {
    return count_lines(file);
  }
  for (unsigned k = 0; k < count; ++k) {
    if (!parts[k].reader.open_part(file, starts[k], starts[k + 1])) return count_lines(file);
  }
  count_parts(parts.get(), count);
  for (unsigned k = 0; k < count; ++k) cost.read_bytes += parts[k].reader.part_offset() - starts[k];
  if (reading != nullptr) *reading = cost;
  return combined_in_file_order(parts.get(), count);
}

ExitStatus prescan_points(Report& report, PointFile& file, unsigned part_count, PrescanCounts& counts) {
  counts = count_lines(file, part_count);
  report.point_count(counts.point_count);
  report.frame_count(counts.separator_count);
  report.maxima(counts.x_max, counts.y_max);
  if (!file.rewind()) return ExitStatus::data_rewind_failed;
  return ExitStatus::ok;
}

}  // namespace trailavi
