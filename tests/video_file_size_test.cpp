// The sizes the movie reckons with: the guard against a library that cannot
// write files past a size, and the least size of a complete file, by which
// the end of the run tells a file the library could not complete.

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "movie/video_file_size.hpp"
#include "movie/video_stream.hpp"
#include "platform/own_video_library_testing.hpp"
#include "support/scratch_dir.hpp"

namespace trailavi {
namespace {

constexpr std::uint64_t k2GiB = std::uint64_t{1} << 31;
constexpr std::uint64_t kFullHdFrameBytes = 1920 * 3 * 1080;  // the stride is 5760, a multiple of 4

TEST(VideoFileSize, LimitKeepsEveryFileWithinIt) {
  struct Case {
    const char* name;
    std::optional<std::uint64_t> limit;
    std::uint64_t frame_bytes;
    std::uint64_t frame_count;
    bool within;
  };
  const Case cases[] = {
      {"no limit, no frames", std::nullopt, 24, 0, true},
      {"no limit, far past 4 GiB", std::nullopt, kFullHdFrameBytes, 100000, true},
      {"no frames fit any limit", k2GiB, kFullHdFrameBytes, 0, true},
      // Measured with Wine's library: 345 frames of 1920 x 1080 make a file of
      // 2,146,186,356 bytes that every reader reads whole; a 346th would end
      // past 2 GiB.
      {"full HD, the last frame that fits", k2GiB, kFullHdFrameBytes, 345, true},
      {"full HD, one frame more", k2GiB, kFullHdFrameBytes, 346, false},
      // Empty frames still take a chunk header and an index entry each.
      {"80 million empty frames", k2GiB, 0, 80'000'000, true},
      {"90 million empty frames", k2GiB, 0, 90'000'000, false},
      // Two frames of just under 1 GiB fit only if nothing else is counted.
      {"two frames of 1 GiB less one byte", k2GiB, (std::uint64_t{1} << 30) - 1, 2, false},
      {"the headers alone past a tiny limit", std::uint64_t{4096}, 24, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(within_video_file_limit(c.limit, 40, c.frame_bytes, c.frame_count), c.within) << c.name;
  }
}

// Complete files the platform library wrote (Wine 8, measured): format bytes,
// frame bytes, frames, file bytes. Each lies between the least size and the
// projection.
TEST(VideoFileSize, BoundsThePlatformLibrarysFiles) {
  struct Case {
    std::uint64_t format_bytes, frame_bytes, frame_count, file_bytes;
  };
  const Case cases[] = {
      {40, 24, 2, 2172},   {40, 24, 0, 2076}, {40, 19, 2, 2164},
      {40, 0, 3, 2148},    {40, kFullHdFrameBytes, 345, 2'146'186'356},
  };
  for (const Case& c : cases) {
    EXPECT_LE(least_video_file_bytes(c.format_bytes, c.frame_bytes, c.frame_count), c.file_bytes) << c.file_bytes;
    EXPECT_GE(projected_video_file_bytes(c.format_bytes, c.frame_bytes, c.frame_count), c.file_bytes) << c.file_bytes;
  }
}

// Our library's complete files, one RIFF or several, are never below the
// least size; one-RIFF files, which are AVI 1.0, are within the projection.
TEST(VideoFileSize, BoundsOurLibrarysFiles) {
  struct Case {
    const char* name;
    std::uint64_t format_bytes, frame_bytes, frame_count, riff_limit;
  };
  const Case cases[] = {
      {"no frames", 40, 24, 0, 0},
      {"odd frames", 40, 19, 3, 0},
      {"empty frames", 40, 0, 4, 0},
      {"a colour table", 1064, 16, 5, 0},
      {"segments of 64 KiB", 40, 1001, 300, 64 * 1024},
      {"segments of empty frames", 40, 0, 20000, 64 * 1024},
  };
  for (const Case& c : cases) {
    test::ScratchDir dir;
    const std::string path = dir.file("video.avi");
    std::vector<std::uint8_t> format(c.format_bytes, 7);
    format[0] = 40;
    std::vector<std::uint8_t> frame(c.frame_bytes, 9);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 30;
    info.dwLength = static_cast<DWORD>(c.frame_count);
    const platform::testing::AviFileSettings settings{
        .riff_limit_bytes = c.riff_limit != 0 ? c.riff_limit : platform::kDefaultRiffLimitBytes};
    ASSERT_EQ(platform::testing::open_avi_file(&file, path.c_str(), kVideoOpenMode, settings), 0) << c.name;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), 0) << c.name;
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size())), 0) << c.name;
    for (std::uint64_t i = 0; i < c.frame_count; ++i) {
      ASSERT_EQ(AVIStreamWrite(stream, static_cast<LONG>(i), 1, frame.data(), static_cast<LONG>(frame.size()),
                               AVIIF_KEYFRAME, nullptr, nullptr),
                0)
          << c.name;
    }
    AVIStreamRelease(stream);
    ASSERT_EQ(AVIFileRelease(file), 0u) << c.name;

    const std::uint64_t size = std::filesystem::file_size(path);
    EXPECT_LE(least_video_file_bytes(c.format_bytes, c.frame_bytes, c.frame_count), size) << c.name;
    if (c.riff_limit == 0) {
      EXPECT_GE(projected_video_file_bytes(c.format_bytes, c.frame_bytes, c.frame_count), size) << c.name;
    }
  }
}

}  // namespace
}  // namespace trailavi
