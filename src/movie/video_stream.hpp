#pragma once

#include <cstdint>

#include "input/background_image.hpp"
#include "input/point_file.hpp"
#include "platform/video_library.hpp"
#include "run/exit_status.hpp"

namespace trailavi {

inline constexpr const char* kVideoFileName = "TEST01_.AVI";
inline constexpr UINT kVideoOpenMode = 0x1041;  // OF_WRITE | OF_SHARE_DENY_NONE | OF_CREATE
inline constexpr std::uint32_t kFramesPerSecond = 30;

// The video file and its one stream, from the set-up to the end of the run.
struct VideoOutput {
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  // What was handed to the library, to check the finished file against.
  std::uint64_t format_bytes = 0;
  std::uint64_t frame_size_bytes = 0;
  std::uint64_t frames_written = 0;
};

// The stream information the stream is created with: the frame rate, the
// declared length and the picture's rectangle, everything else zero.
[[nodiscard]] AVISTREAMINFOA make_stream_info(const BackgroundImage& image, std::int32_t separator_count);

// Creates TEST01_.AVI with one video stream whose format is the bitmap's
// header. Statuses 9 to 11; after 10 or 11 no file is left behind.
[[nodiscard]] ExitStatus set_up_video(const BackgroundImage& image, std::int32_t separator_count,
                                      VideoOutput& video);

// The second pass over the point file: marks every point and writes the
// canvas as a key frame at every separator line. Status 12, after which no
// file is left behind, when a write fails or the next frame would take the
// file past the library's size limit.
[[nodiscard]] ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video);

// Releases the stream, the file and the library, which completes the file.
// Status 12, and no file left behind, when the file could not be completed
// or is too short to hold what was written.
[[nodiscard]] ExitStatus release_video(VideoOutput& video);

}  // namespace trailavi
