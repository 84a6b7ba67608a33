#include "movie/video_stream.hpp"

#include <cstring>
#include <filesystem>

#include "base/int32_wrap.hpp"
#include "movie/point_marking.hpp"
#include "movie/video_file_size.hpp"

namespace trailavi {
namespace {

constexpr DWORD kHandlerDib = 0x20424944;  // "DIB "
constexpr DWORD kDefaultQuality = 0xFFFFFFFF;

// The library picks its file handler by the name's extension, which the
// temporary file's name does not end in; the AVI file handler, the one that
// ".AVI" selects, is named instead (CLSID_AVIFile, defined here so that no
// GUID library is linked in). Ours writes AVI files alone and needs no name.
#if defined(TRAILAVI_PLATFORM_VIDEO_LIBRARY)
CLSID avi_file_handler = {0x00020000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
LPCLSID video_handler() { return &avi_file_handler; }
#else
LPCLSID video_handler() { return nullptr; }
#endif

// A run that fails once the temporary file exists releases what it holds,
// so that the file is closed, and removes it: an earlier TEST01_.AVI stays as
// it was. The results are not looked at; the run's status already says what
// failed.
void abandon_video(VideoOutput& video) {
  if (video.stream != nullptr) AVIStreamRelease(video.stream);
  if (video.file != nullptr) AVIFileRelease(video.file);
  AVIFileExit();
  abandon_replacement(video.replacement);
  video = VideoOutput{};
}

// TEST01_.AVI may name one of the inputs, through a link; creating it would
// empty that input, and the point file is still to be read.
bool video_name_is_an_input() {
  std::error_code error;
  for (const char* input : {kBackgroundFileName, kPointFileName}) {
    if (std::filesystem::equivalent(kVideoFileName, input, error)) return true;
  }
  return false;
}

// The platform library's last release returns a reference count, not a
// result, and its writes go on reporting success when the disk is full: a
// file it could not complete shows only in its size. A complete file holds
// at least what was handed over, with its chunk headers and index entries.
// It is measured before the rename, while it is still the temporary file.
bool holds_what_was_written(const VideoOutput& video) {
  std::error_code error;
  const std::uintmax_t size_bytes = std::filesystem::file_size(video.replacement.temporary_path, error);
  return !error &&
         size_bytes >= least_video_file_bytes(video.format_bytes, video.frame_size_bytes, video.frame_count);
}

}  // namespace

AVISTREAMINFOA make_stream_info(const BackgroundImage& image, std::int32_t separator_count) {
  AVISTREAMINFOA info;
  std::memset(&info, 0, sizeof info);
  info.fccType = streamtypeVIDEO;
  info.fccHandler = kHandlerDib;
  info.dwScale = 1;
  info.dwRate = kFramesPerSecond;
  info.dwLength = static_cast<DWORD>(separator_count);
  info.dwQuality = kDefaultQuality;
  SetRect(&info.rcFrame, 0, 0, image.width(), image.height());
  return info;
}

ExitStatus set_up_video(const BackgroundImage& image, std::int32_t separator_count, VideoOutput& video) {
  AVIFileInit();
  // Everything that makes TEST01_.AVI impossible to replace is found before
  // anything is created. The library empties the new, empty temporary file.
  if (video_name_is_an_input() || !begin_replacement(kVideoFileName, video.replacement)) {
    return ExitStatus::video_open_failed;
  }
  if (AVIFileOpenA(&video.file, video.replacement.temporary_path.c_str(), kVideoOpenMode, video_handler()) != 0) {
    video.file = nullptr;
    abandon_video(video);
    return ExitStatus::video_open_failed;
  }
  AVISTREAMINFOA info = make_stream_info(image, separator_count);
  if (AVIFileCreateStreamA(video.file, &video.stream, &info) != 0) {
    video.stream = nullptr;
    abandon_video(video);
    return ExitStatus::video_stream_failed;
  }
  // The format is the bitmap's information header and colour table as they
  // stand; the library copies it.
  const std::span<const std::uint8_t> format = image.format();
  video.format_bytes = format.size();
  video.frame_size_bytes = static_cast<std::uint64_t>(image.frame_size_bytes());
  if (AVIStreamSetFormat(video.stream, 0, const_cast<std::uint8_t*>(format.data()),
                         static_cast<LONG>(format.size())) != 0) {
    abandon_video(video);
    return ExitStatus::video_format_failed;
  }
  return ExitStatus::ok;
}

namespace {

// Hands the canvas to the library as the next frame. A frame that would take
// the file past the library's limit is not handed over at all: the library
// would lose it and still report success. The stream's sample numbers are
// the frame count's low 32 bits, as a signed 32-bit counter wraps.
bool write_frame(std::span<std::uint8_t> frame, VideoOutput& video) {
  if (!within_video_file_limit(kVideoFileLimitBytes, video.format_bytes, frame.size(), video.frame_count + 1)) {
    return false;
  }
  const LONG sample = as_int32(static_cast<std::uint32_t>(video.frame_count));
  if (AVIStreamWrite(video.stream, sample, 1, frame.data(), static_cast<LONG>(frame.size()), AVIIF_KEYFRAME,
                     nullptr, nullptr) != 0) {
    return false;
  }
  ++video.frame_count;
  return true;
}

}  // namespace

ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video) {
  const Canvas canvas(image);
  // Each frame is handed over straight from the canvas, with every mark made
  // so far; a failed write ends the pass, since no later frame may follow.
  const bool all_written = points.for_each_line([&](const PointLine& line) {
    if (!line.is_point) {
      if (interruption_requested()) {
        abandon_video(video);
        end_as_interrupted();
      }
      return write_frame(image.pixels(), video);
    }
    canvas.mark(line.point);
    return true;
  });
  if (!all_written) {
    abandon_video(video);
    return ExitStatus::frame_write_failed;
  }
  return ExitStatus::ok;
}

ExitStatus release_video(VideoOutput& video) {
  AVIStreamRelease(video.stream);
  // The last release completes the file; a non-zero result means it could
  // not be completed.
  const ULONG file_result = AVIFileRelease(video.file);
  AVIFileExit();
  const bool complete = file_result == 0 && holds_what_was_written(video);
  video.stream = nullptr;
  video.file = nullptr;
  if (!complete) {
    abandon_replacement(video.replacement);
    return ExitStatus::frame_write_failed;
  }
  // Only a complete video replaces the earlier one.
  return finish_replacement(video.replacement) ? ExitStatus::ok : ExitStatus::frame_write_failed;
}

}  // namespace trailavi
