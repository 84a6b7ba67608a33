// One real long video: a 1920 x 1080 picture and 700 frames, 4.35 GB, far
// past the 4 GiB that 32-bit sizes can state. Written by the program itself
// with its default 1 GiB segments, read back by ffmpeg end to end.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/avi_walker.hpp"
#include "support/ffmpeg_reader.hpp"
#include "support/movie_model.hpp"
#include "support/workspace.hpp"

namespace trailavi::test {
namespace {

constexpr int kFrames = 700;

TEST(LargeVideo, FourGigabytesPlayFromStartToEndAndSeekIntoTheLastSegment) {
  const BitmapSpec bitmap{.width = 1920, .height = 1080, .pixels = pattern_pixels(1920, 1080)};
  std::vector<DataLine> lines;
  for (int i = 0; i < kFrames; ++i) {
    lines.push_back(PlotPoint{2 * i, i});
    lines.push_back(Separator{});
  }
  const std::uint64_t frame_bytes = static_cast<std::uint64_t>(stride_of(bitmap.width)) * bitmap.height;
  const std::uint64_t video_bytes = kFrames * (frame_bytes + 8);

  Workspace workspace;
  const std::uint64_t free_bytes = std::filesystem::space(workspace.file("")).available;
  if (free_bytes < 2 * video_bytes) {
    GTEST_SKIP() << "SKIPPED: the large video needs " << 2 * video_bytes / 1000000 << " MB free in "
                 << workspace.file("") << ", which has " << free_bytes / 1000000 << " MB";
  }
  workspace.put_bitmap(bitmap);
  workspace.put("test_.dat", data_text(lines));
  const ProcessResult result = workspace.run();
  ASSERT_EQ(result.exit_status, 0);
  const std::string path = workspace.file("TEST01_.AVI");
  EXPECT_GT(std::filesystem::file_size(path), std::uint64_t{4} << 30);

  const AviSummary avi = walk_avi(path, std::uint64_t{1} << 30);
  EXPECT_EQ(avi.errors, std::vector<std::string>{});
  EXPECT_EQ(avi.segment_count, 5);
  ASSERT_EQ(avi.frames.size(), static_cast<std::size_t>(kFrames));

  const auto probe = probe_stream(path);
  EXPECT_EQ(probe.at("exit"), "0") << probe.at("stderr");
  EXPECT_EQ(probe.at("nb_read_frames"), std::to_string(kFrames));

  // The last frame, found by seeking into the last segment, shows every mark.
  const auto expected_last = as_decoded(final_canvas(bitmap, lines), bitmap.width, bitmap.height);
  const auto decoded_last = decode_bgr24(path, {"-ss", std::to_string((kFrames - 1 + 0.1) / 30.0)});
  EXPECT_TRUE(decoded_last == expected_last) << "the last frame differs from the marked picture";
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace trailavi::test
