#include "movie/video_file_size.hpp"

namespace trailavi {
namespace {

// The AVI format's fixed sizes, the same whichever library lays the file out.
constexpr std::uint64_t kChunkHeaderBytes = 8;     // FOURCC, size
constexpr std::uint64_t kOldIndexEntryBytes = 16;  // idx1 entry
constexpr std::uint64_t kLeastIndexEntryBytes = 8;  // OpenDML ix00 entry, the smallest index a frame gets
// Up to the first frame: the RIFF, hdrl, strl and movi headers (4 x 12
// bytes), the avih, strh and strf chunk headers (3 x 8), avih and strh (2 x 56).
constexpr std::uint64_t kLeadingHeaderBytes = 4 * 12 + 3 * 8 + 2 * 56;

// A chunk's payload is followed by a pad byte when its size is odd.
constexpr std::uint64_t padded(std::uint64_t bytes) { return bytes + (bytes & 1); }

// Those headers and idx1's take under 200 bytes beside the format; the rest
// is margin, such as for the platform library's alignment of the first frame
// to 2 KiB and the empty chunk record it writes after the RIFF.
constexpr std::uint64_t kHeaderAllowanceBytes = 64 * 1024;

}  // namespace

std::uint64_t projected_video_file_bytes(std::uint64_t format_bytes, std::uint64_t frame_size_bytes,
                                         std::uint64_t frame_count) {
  const std::uint64_t per_frame = kChunkHeaderBytes + padded(frame_size_bytes) + kOldIndexEntryBytes;
  return kHeaderAllowanceBytes + format_bytes + per_frame * frame_count;
}

bool within_video_file_limit(std::optional<std::uint64_t> limit_bytes, std::uint64_t format_bytes,
                             std::uint64_t frame_size_bytes, std::uint64_t frame_count) {
  return !limit_bytes.has_value() ||
         projected_video_file_bytes(format_bytes, frame_size_bytes, frame_count) <= *limit_bytes;
}

std::uint64_t least_video_file_bytes(std::uint64_t format_bytes, std::uint64_t frame_size_bytes,
                                     std::uint64_t frame_count) {
  const std::uint64_t per_frame = kChunkHeaderBytes + padded(frame_size_bytes) + kLeastIndexEntryBytes;
  return kLeadingHeaderBytes + padded(format_bytes) + kChunkHeaderBytes + per_frame * frame_count;
}

}  // namespace trailavi
