// Videos longer than one RIFF: tiny inputs with a small segment limit make
// AVI 2.0 files whose every segment, index and counter is checked by our
// walker, and which ffmpeg must read, with and without the OpenDML index.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <list>

#include "support/avi_walker.hpp"
#include "support/ffmpeg_reader.hpp"
#include "support/movie_model.hpp"
#include "support/workspace.hpp"

namespace trailavi::test {
namespace {

constexpr std::uint64_t kRiffLimitBytes = 24 * 1024;

// Every frame differs from the one before: a point walks over the picture.
std::vector<DataLine> walking_points(const BitmapSpec& bitmap, int frames) {
  std::vector<DataLine> lines;
  for (int i = 0; i < frames; ++i) {
    lines.push_back(PlotPoint{i % bitmap.width, (i / bitmap.width) % bitmap.height});
    lines.push_back(Separator{});
  }
  return lines;
}

struct StoredVideo {
  AviSummary avi;
  std::vector<std::vector<std::uint8_t>> expected;
  std::string path;
};

class OpenDmlVideo : public ::testing::Test {
 protected:
  StoredVideo run_with_limit(const BitmapSpec& bitmap, int frames) {
    workspaces_.emplace_back();
    Workspace& workspace = workspaces_.back();
    const auto lines = walking_points(bitmap, frames);
    workspace.put_bitmap(bitmap);
    workspace.put("test_.dat", data_text(lines));
    const ProcessResult result =
        run_process({TRAILAVI_DRIVER_PATH, "--riff-limit", std::to_string(kRiffLimitBytes)}, workspace.file(""));
    EXPECT_EQ(result.exit_status, 0) << result.standard_error;
    StoredVideo run{walk_avi(workspace.file("TEST01_.AVI"), kRiffLimitBytes), expected_frames(bitmap, lines),
            workspace.file("TEST01_.AVI")};
    EXPECT_EQ(run.avi.errors, std::vector<std::string>{});
    return run;
  }

  // How many frames one segment holds for this picture, as the writer fixed it.
  int frames_per_segment(const BitmapSpec& bitmap) {
    const StoredVideo run = run_with_limit(bitmap, 400);
    EXPECT_GE(run.avi.standard_index_counts.size(), 2u);
    return run.avi.standard_index_counts.empty() ? 1 : static_cast<int>(run.avi.standard_index_counts[0]);
  }

 private:
  std::list<Workspace> workspaces_;
};

void expect_frames_stored(const StoredVideo& run, const char* name) {
  ASSERT_EQ(run.avi.frames.size(), run.expected.size()) << name;
  for (std::size_t i = 0; i < run.expected.size(); ++i) {
    EXPECT_EQ(read_frame(run.path, run.avi.frames[i]), run.expected[i]) << name << ", frame " << i;
  }
}

void expect_ffmpeg_reads_all(const StoredVideo& run, const BitmapSpec& bitmap, const char* name) {
  const std::string count = run.expected.empty() ? "N/A" : std::to_string(run.expected.size());
  std::vector<std::uint8_t> decoded_expected;
  for (const auto& frame : run.expected) {
    const auto decoded = as_decoded(frame, bitmap.width, bitmap.height);
    decoded_expected.insert(decoded_expected.end(), decoded.begin(), decoded.end());
  }
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"-use_odml", "0"}}) {
    const std::string how = options.empty() ? "with the OpenDML index" : "with idx1 alone";
    const auto probe = probe_stream(run.path, options);
    EXPECT_EQ(probe.at("exit"), "0") << name << ", " << how << ": " << probe.at("stderr");
    EXPECT_EQ(probe.at("stderr"), "") << name << ", " << how;
    EXPECT_EQ(probe.at("nb_frames"), count) << name << ", " << how;
    EXPECT_EQ(probe.at("nb_read_frames"), count) << name << ", " << how;
    EXPECT_TRUE(decode_bgr24(run.path, options) == decoded_expected) << name << ", " << how;
  }
}

TEST_F(OpenDmlVideo, SegmentsIndexesAndCountersHoldForEveryLength) {
  const BitmapSpec narrow{.width = 7, .height = 5, .pixels = pattern_pixels(7, 5)};
  const BitmapSpec odd{.width = 6, .height = 3, .pixels = pattern_pixels(6, 3), .trailing = {9}};
  const int per_segment = frames_per_segment(narrow);
  const int per_segment_odd = frames_per_segment(odd);
  ASSERT_GT(per_segment, 10);

  const struct {
    const char* name;
    BitmapSpec bitmap;
    int per_segment;
    int frames;
    int segments;
  } cases[] = {
      {"no frames", narrow, per_segment, 0, 1},
      {"one frame", narrow, per_segment, 1, 1},
      {"one segment exactly full", narrow, per_segment, per_segment, 1},
      {"one frame more than a segment", narrow, per_segment, per_segment + 1, 2},
      {"several segments", narrow, per_segment, 4 * per_segment + 3, 5},
      {"several full segments", narrow, per_segment, 3 * per_segment, 3},
      {"odd frame size", odd, per_segment_odd, 2 * per_segment_odd + 1, 3},
  };
  for (const auto& c : cases) {
    const StoredVideo run = run_with_limit(c.bitmap, c.frames);
    EXPECT_EQ(run.avi.segment_count, c.segments) << c.name;
    const bool multi = c.segments > 1;
    EXPECT_EQ(run.avi.has_super_index, multi) << c.name;
    EXPECT_EQ(run.avi.has_odml, multi) << c.name;
    EXPECT_EQ(run.avi.stream.length, static_cast<std::uint32_t>(c.frames)) << c.name;
    // The first RIFF holds a full segment, or all frames when they fit.
    EXPECT_EQ(run.avi.main.total_frames, static_cast<std::uint32_t>(std::min(c.frames, c.per_segment))) << c.name;
    expect_frames_stored(run, c.name);
    expect_ffmpeg_reads_all(run, c.bitmap, c.name);
  }
}

TEST_F(OpenDmlVideo, SeekingIntoTheLastSegmentLandsOnTheRightFrame) {
  const BitmapSpec bitmap{.width = 7, .height = 5, .pixels = pattern_pixels(7, 5)};
  const int per_segment = frames_per_segment(bitmap);
  const StoredVideo run = run_with_limit(bitmap, 3 * per_segment + 5);
  ASSERT_EQ(run.avi.segment_count, 4);
  const int target = 3 * per_segment + 2;
  ASSERT_EQ(run.avi.frames[static_cast<std::size_t>(target)].segment, 3);
  char interval[32];
  std::snprintf(interval, sizeof interval, "%.4f%%+#1", (target + 0.1) / 30.0);
  const ProcessResult probe = run_process(
      {"ffprobe", "-v", "error", "-read_intervals", std::string(interval), "-show_entries",
       "packet=pts,pos", "-of", "csv=p=0", run.path},
      ".");
  EXPECT_EQ(probe.standard_error, "");
  const auto& frame = run.avi.frames[static_cast<std::size_t>(target)];
  // ffprobe gives the position of the payload, after the 8-byte chunk header.
  EXPECT_EQ(probe.standard_output, std::to_string(target) + "," + std::to_string(frame.header_offset + 8) + "\n");
}

}  // namespace
}  // namespace trailavi::test
