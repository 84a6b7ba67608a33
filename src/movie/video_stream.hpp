#pragma once

#include <cstdint>
#include <span>

#include "input/background_image.hpp"
#include "movie/video_replacement.hpp"
#include "movie/video_library.hpp"
#include "base/exit_status.hpp"

namespace trailavi {

inline constexpr const char* kVideoFileName = "TEST01_.AVI";
inline constexpr UINT kVideoOpenMode = 0x1041;  // OF_WRITE | OF_SHARE_DENY_NONE | OF_CREATE
inline constexpr std::uint32_t kFramesPerSecond = 30;

// How the video file is created: the library's own AVIFileOpenA, or for a
// test, the same with settings of the test's own.
using OpenVideoFile = decltype(&AVIFileOpenA);

// The video file and its stream, owned here until release_video: should the
// run end first, they are released and the new file removed.
struct VideoOutput {
  VideoOutput() = default;
  ~VideoOutput();
  VideoOutput(const VideoOutput&) = delete;
  VideoOutput& operator=(const VideoOutput&) = delete;

  bool library_open = false;  // AVIFileInit called, AVIFileExit not yet
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  VideoReplacement replacement;
  // What was handed to the library, to check the finished file against.
  std::uint64_t format_bytes = 0;
  std::uint64_t frame_size_bytes = 0;
  std::uint64_t frame_count = 0;  // the frames written so far
};

// Creates the video in a new file beside TEST01_.AVI, its one stream in the
// bitmap's format. video_open_failed, with nothing touched, when TEST01_.AVI
// cannot be replaced; video_stream_failed or video_format_failed otherwise.
[[nodiscard]] ExitStatus set_up_video(const BackgroundImage& image, std::int32_t separator_count,
                                      OpenVideoFile open_video_file, VideoOutput& video);

// Hands `frame` to the library as the next key frame. False when the write
// fails or the frame would take the file past the library's size limit.
[[nodiscard]] bool write_frame(std::span<std::uint8_t> frame, VideoOutput& video);

// Releases the stream, the file and the library, completing the file, then
// renames it over TEST01_.AVI; frame_write_failed when it is incomplete
// (shorter than what was written, say) or cannot be renamed.
[[nodiscard]] ExitStatus release_video(VideoOutput& video);

}  // namespace trailavi
