#pragma once

#include <cstdint>

#include "input/background_image.hpp"
#include "input/point_file.hpp"
#include "movie/video_replacement.hpp"
#include "movie/video_library.hpp"
#include "base/exit_status.hpp"

namespace trailavi {

inline constexpr const char* kVideoFileName = "TEST01_.AVI";
inline constexpr UINT kVideoOpenMode = 0x1041;  // OF_WRITE | OF_SHARE_DENY_NONE | OF_CREATE
inline constexpr std::uint32_t kFramesPerSecond = 30;

// The video file and its one stream, from the set-up to the end of the run.
struct VideoOutput {
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  // The temporary file the library writes, and where it goes once complete.
  VideoReplacement replacement;
  // What was handed to the library, to check the finished file against.
  std::uint64_t format_bytes = 0;
  std::uint64_t frame_size_bytes = 0;
  std::uint64_t frame_count = 0;  // the frames written so far
};

// The stream information the stream is created with: the frame rate, the
// declared length and the picture's rectangle, everything else zero.
[[nodiscard]] AVISTREAMINFOA make_stream_info(const BackgroundImage& image, std::int32_t separator_count);

// Creates the video, in a temporary file beside TEST01_.AVI, with one video
// stream whose format is the bitmap's header. Status 9, with nothing touched,
// when TEST01_.AVI cannot be replaced; 10 or 11, after which the temporary
// file is gone and TEST01_.AVI is as it was.
[[nodiscard]] ExitStatus set_up_video(const BackgroundImage& image, std::int32_t separator_count,
                                      VideoOutput& video);

// The second pass over the point file: marks every point and writes the
// canvas as a key frame at every separator line. Status 12, after which the
// temporary file is gone, when a write fails or the next frame would take the
// file past the library's size limit.
[[nodiscard]] ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video);

// Releases the stream, the file and the library, which completes the file,
// and renames it over TEST01_.AVI. Status 12, with the temporary file gone
// and TEST01_.AVI as it was, when the file could not be completed, is too
// short to hold what was written, or cannot be renamed.
[[nodiscard]] ExitStatus release_video(VideoOutput& video);

}  // namespace trailavi
