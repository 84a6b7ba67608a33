#include "movie/video_stream.hpp"

#include <filesystem>

#include "base/int32_wrap.hpp"
#include "input/point_file.hpp"
#include "movie/video_file_size.hpp"

namespace trailavi {
namespace {

constexpr DWORD kHandlerDib = 0x20424944;  // "DIB "
constexpr DWORD kDefaultQuality = 0xFFFFFFFF;

// TEST01_.AVI may name one of the inputs, through a link; creating it would
// empty that input, and the point file is still to be read.
bool video_name_is_an_input() {
  std::error_code error;
  for (const char* input : {kBackgroundFileName, kPointFileName}) {
    if (std::filesystem::equivalent(kVideoFileName, input, error)) return true;
  }
  return false;
}

// The platform library's last release returns a reference count, and its
// writes report success on a full disk: an incomplete file shows only in its
// size, below what was handed over with its headers and index entries. It
// is measured before the rename, while it is still the new file.
bool holds_what_was_written(const VideoOutput& video) {
  std::error_code error;
  const std::uintmax_t size_bytes = std::filesystem::file_size(video.replacement.path(), error);
  return !error && size_bytes >= least_video_file_bytes(video.format_bytes, video.frame_size_bytes, video.frame_count);
}

// The frame rate, the declared length and the picture's rectangle,
// everything else zero.
AVISTREAMINFOA make_stream_info(const BackgroundImage& image, std::int32_t separator_count) {
  AVISTREAMINFOA info{};
  info.fccType = streamtypeVIDEO;
  info.fccHandler = kHandlerDib;
  info.dwScale = 1;
  info.dwRate = kFramesPerSecond;
  info.dwLength = static_cast<DWORD>(separator_count);
  info.dwQuality = kDefaultQuality;
  SetRect(&info.rcFrame, 0, 0, image.width(), image.height());
  return info;
}

}  // namespace

VideoOutput::~VideoOutput() {
  if (stream != nullptr) AVIStreamRelease(stream);
  if (file != nullptr) AVIFileRelease(file);
  if (library_open) AVIFileExit();
}

ExitStatus set_up_video(const BackgroundImage& image, std::int32_t separator_count, OpenVideoFile open_video_file,
                        VideoOutput& video) {
  AVIFileInit();
  video.library_open = true;
  // Everything that makes TEST01_.AVI impossible to replace is found before
  // anything is created. The library empties the new, empty file.
  if (video_name_is_an_input() || !video.replacement.begin(kVideoFileName) ||
      open_video_file(&video.file, video.replacement.path().c_str(), kVideoOpenMode, kVideoHandler) != 0) {
    video.file = nullptr;
    return ExitStatus::video_open_failed;
  }
  AVISTREAMINFOA info = make_stream_info(image, separator_count);
  if (AVIFileCreateStreamA(video.file, &video.stream, &info) != 0) {
    video.stream = nullptr;
    return ExitStatus::video_stream_failed;
  }
  // The format is the bitmap's information header and colour table as they
  // stand; the library copies it.
  const std::span<const std::uint8_t> format = image.format();
  video.format_bytes = format.size();
  video.frame_size_bytes = static_cast<std::uint64_t>(image.frame_size_bytes());
  if (AVIStreamSetFormat(video.stream, 0, const_cast<std::uint8_t*>(format.data()),
                         static_cast<LONG>(format.size())) != 0) {
    return ExitStatus::video_format_failed;
  }
  return ExitStatus::ok;
}

// A frame past the library's limit is not handed over: the library would lose
// it and report success. Sample numbers wrap as a signed 32-bit counter.
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

ExitStatus release_video(VideoOutput& video) {
  AVIStreamRelease(video.stream);
  video.stream = nullptr;
  // The last release completes the file; a non-zero result means it could
  // not be completed.
  const ULONG file_result = AVIFileRelease(video.file);
  video.file = nullptr;
  AVIFileExit();
  video.library_open = false;
  // Only a complete video replaces the earlier one.
  const bool complete = file_result == 0 && holds_what_was_written(video);
  return complete && video.replacement.finish() ? ExitStatus::ok : ExitStatus::frame_write_failed;
}

}  // namespace trailavi
