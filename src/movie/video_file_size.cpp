#include "movie/video_file_size.hpp"

#include "platform/avi_layout.hpp"

namespace trailavi {
namespace {

namespace layout = platform::avi_layout;

// The headers and idx1's take under 200 bytes beside the format; the rest
// is margin, such as for the platform library's alignment of the first frame
// to 2 KiB and the empty chunk record it writes after the RIFF.
constexpr std::uint64_t kHeaderAllowanceBytes = 64 * 1024;

}  // namespace

std::uint64_t projected_video_file_bytes(std::uint64_t format_bytes, std::uint64_t frame_size_bytes,
                                         std::uint64_t frame_count) {
  const std::uint64_t per_frame = layout::chunk_bytes(frame_size_bytes) + layout::kOldIndexEntryBytes;
  return kHeaderAllowanceBytes + format_bytes + per_frame * frame_count;
}

bool within_video_file_limit(std::optional<std::uint64_t> limit_bytes, std::uint64_t format_bytes,
                             std::uint64_t frame_size_bytes, std::uint64_t frame_count) {
  return !limit_bytes.has_value() ||
         projected_video_file_bytes(format_bytes, frame_size_bytes, frame_count) <= *limit_bytes;
}

// The smaller of the two index entries a frame gets, ix00's, is the least.
std::uint64_t least_video_file_bytes(std::uint64_t format_bytes, std::uint64_t frame_size_bytes,
                                     std::uint64_t frame_count) {
  const std::uint64_t per_frame = layout::chunk_bytes(frame_size_bytes) + layout::kStandardIndexEntryBytes;
  return layout::essential_header_bytes(format_bytes) + layout::old_index_bytes(0) + per_frame * frame_count;
}

}  // namespace trailavi
