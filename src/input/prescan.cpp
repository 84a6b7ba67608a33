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

struct Part {  // one part of the file: [start, the next part's start)
  std::int64_t start = 0;
  PointFile reader;
  PrescanCounts counts;
  os::Thread thread;
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

// The first line start in [from, to), 1 <= from < to: after the first line
// feed in [from - 1, to - 1); `none` if none, -1 if a read fails. Nothing
// from to - 1 on is read, so all parts' searches read the file once at most.
std::int64_t first_line_start(std::FILE* file, std::int64_t from, std::int64_t to, std::int64_t none) {
  char chunk[4096];
  for (std::int64_t offset = from - 1; offset < to - 1;) {
    // 0 < to - 1 - offset, and the chunk bounds the read.
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(to - 1 - offset, sizeof chunk));
    const std::int64_t got = os::read_at(file, offset, chunk, wanted);
    if (got < 0) return -1;
    if (const void* line_feed = std::memchr(chunk, '\n', static_cast<std::size_t>(got))) {
      return offset + (static_cast<const char*>(line_feed) - chunk) + 1;
    }
    if (static_cast<std::size_t>(got) < wanted) break;  // the end of the file
    offset += got;
  }
  return none;
}

// Opens each part at the first line start at or after its boundary, searched
// up to the next; a part where no line starts begins where the next does and
// reads nothing. False when a read fails or a part cannot be opened.
bool open_parts(PointFile& file, std::int64_t size, Part* parts, unsigned count) {
  const os::FileHandle searched = file.reopened();
  if (!searched) return false;
  std::int64_t next_start = size;
  for (unsigned k = count; k-- > 0;) {
    if (k > 0) {
      const std::int64_t boundary = part_boundary(size, k, count);
      parts[k].start = first_line_start(searched.get(), boundary, part_boundary(size, k + 1, count), next_start);
    }
    if (parts[k].start < 0 || !parts[k].reader.open_part(file, parts[k].start, next_start)) return false;
    next_start = parts[k].start;
  }
  return true;
}

// The parts' counts in file order, up to the part whose data was cut short,
// after which nothing is data; sums modulo 2^32, as one count wraps.
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

PrescanCounts count_lines(PointFile& file, unsigned part_count) {
  // At least a byte a part, so that the boundaries rise strictly from byte 1;
  // a file of a byte or none, or not regular (size -1), is read once.
  const std::int64_t size = file.regular_file_size();
  const auto count = static_cast<unsigned>(std::clamp<std::int64_t>(size, 1, std::max(part_count, 1u)));
  const std::unique_ptr<Part[]> parts(count > 1 ? new (std::nothrow) Part[count] : nullptr);
  if (!parts || !open_parts(file, size, parts.get(), count)) return count_lines(file);
  // The first part is counted here, and so is one whose thread fails; the
  // threads keep off this one's processor, as the frame pass's reader does.
  for (unsigned k = 1; k < count; ++k) {
    if (!parts[k].thread.start(count_part, &parts[k], true)) count_part(&parts[k]);
  }
  count_part(&parts[0]);
  for (unsigned k = 1; k < count; ++k) parts[k].thread.join();
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
