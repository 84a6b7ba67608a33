#pragma once

#include <cstdint>
#include <optional>

namespace trailavi {

// What the movie reckons an AVI file of `frame_count` frames of
// `frame_size_bytes` occupies, whichever library lays it out, from the sizes
// in platform/avi_layout.hpp. Sizes are below 2^31 and the counts that reach
// these functions below 2^32, so nothing here nears 2^64.

// The most an AVI 1.0 file can occupy: each frame a chunk (header, payload,
// pad byte) with its idx1 entry, and an allowance for the headers, the
// format, the index's header and a library's padding around them.
[[nodiscard]] std::uint64_t projected_video_file_bytes(std::uint64_t format_bytes, std::uint64_t frame_size_bytes,
                                                      std::uint64_t frame_count);

// Whether a file of `frame_count` frames stays within `limit_bytes`; no limit
// lets every count through.
[[nodiscard]] bool within_video_file_limit(std::optional<std::uint64_t> limit_bytes, std::uint64_t format_bytes,
                                           std::uint64_t frame_size_bytes, std::uint64_t frame_count);

// The least a complete file occupies: the headers up to the first frame
// (RIFF, hdrl, avih, strl, strh, strf with the format, movi), every frame
// chunk, at least an OpenDML ix00 entry a frame (an idx1 entry is larger)
// and the idx1 chunk's header.
[[nodiscard]] std::uint64_t least_video_file_bytes(std::uint64_t format_bytes, std::uint64_t frame_size_bytes,
                                                   std::uint64_t frame_count);

}  // namespace trailavi
