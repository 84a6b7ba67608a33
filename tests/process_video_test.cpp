// The video a run writes: read back by our RIFF walker and by ffprobe and
// ffmpeg, frame by frame against the marks the point file asks for.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "support/avi_walker.hpp"
#include "support/expected_report.hpp"
#include "support/ffmpeg_reader.hpp"
#include "support/movie_model.hpp"
#include "support/workspace.hpp"

namespace trailavi::test {
namespace {

struct VideoCase {
  const char* name;
  BitmapSpec bitmap;
  std::vector<DataLine> lines;
  std::string line_end = "\n";
};

const Separator kSep;

AviLayout program_layout() {
  return program_uses_platform_video_library() ? AviLayout::platform_library : AviLayout::ours;
}

std::vector<std::uint8_t> palette(int entries) {
  std::vector<std::uint8_t> table;
  for (int i = 0; i < entries; ++i) table.insert(table.end(), {std::uint8_t(i), std::uint8_t(255 - i), 7, 0});
  return table;
}

const std::vector<VideoCase>& video_cases() {
  static const std::vector<VideoCase> cases = {
      {"walk-through", {}, {PlotPoint{0, 0}, kSep, PlotPoint{1, 0}, kSep}},
      {"first line a separator", {.pixels = pattern_pixels(4, 2)}, {kSep, PlotPoint{2, 1}, kSep}},
      {"two separators in a row", {.width = 3, .height = 3}, {PlotPoint{1, 1}, kSep, kSep, PlotPoint{0, 2}, kSep}},
      {"no separator", {}, {PlotPoint{0, 0}, PlotPoint{3, 1}}},
      {"only separators", {.pixels = pattern_pixels(4, 2)}, {kSep, kSep, kSep, kSep}},
      {"points after the last separator", {}, {PlotPoint{0, 0}, kSep, PlotPoint{1, 1}, PlotPoint{2, 1}}},
      {"marks accumulate and clamp",
       {.width = 5, .height = 3, .pixels = pattern_pixels(5, 3)},
       {PlotPoint{4, 2}, kSep, PlotPoint{40, 20}, kSep, PlotPoint{5, 0}, PlotPoint{-3, -9}, kSep,
        PlotPoint{4, 2}, kSep}},
      {"odd frame size from trailing bytes",
       {.width = 2, .height = 2, .pixels = pattern_pixels(2, 2), .trailing = {1, 2, 3}},
       {PlotPoint{1, 1}, kSep, kSep}},
      {"width not a multiple of 4", {.width = 7, .height = 5, .pixels = pattern_pixels(7, 5)},
       {PlotPoint{6, 0}, PlotPoint{0, 4}, kSep, PlotPoint{3, 2}, kSep}},
      {"CRLF line ends", {.width = 3, .height = 2}, {PlotPoint{2, 1}, kSep, PlotPoint{0, 0}, kSep}, "\r\n"},
      {"top-down rows", {.width = 5, .height = -3, .pixels = pattern_pixels(5, 3)},
       {PlotPoint{0, 0}, kSep, PlotPoint{4, 9}, PlotPoint{2, 1}, kSep}},
      {"V4 header as the format", {.width = 3, .height = 2, .pixels = pattern_pixels(3, 2), .info_header_bytes = 108},
       {PlotPoint{2, 0}, kSep, PlotPoint{0, 1}, kSep}},
      {"colour table as the format",
       {.width = 8, .height = 2, .bit_count = 8, .clr_used = 16, .colour_table = palette(16),
        .pixels = std::vector<std::uint8_t>(16, 200)},
       {PlotPoint{1, 0}, kSep, PlotPoint{7, 1}, kSep}},
  };
  return cases;
}

// The main header's height is what the library derives from the rectangle:
// ours states the rows as a count, the platform library the rectangle's
// height as it stands, negative for a top-down picture.
std::uint32_t main_header_height(std::int32_t height) {
  if (program_uses_platform_video_library()) return static_cast<std::uint32_t>(height);
  return static_cast<std::uint32_t>(std::abs(height));
}

// The headers say what the stream is: 30 frames a second of uncompressed
// DIB frames, the picture's rectangle, and exactly the frames stored.
void expect_stream_headers(const AviSummary& avi, const VideoCase& c, std::size_t frame_count) {
  EXPECT_EQ(avi.stream.fcc_type, "vids") << c.name;
  EXPECT_EQ(avi.stream.fcc_handler, "DIB ") << c.name;
  EXPECT_EQ(avi.stream.scale, 1u) << c.name;
  EXPECT_EQ(avi.stream.rate, 30u) << c.name;
  EXPECT_EQ(avi.stream.length, frame_count) << c.name;
  EXPECT_EQ(avi.stream.quality, 0xFFFFFFFFu) << c.name;
  EXPECT_EQ(avi.stream.frame_left, 0) << c.name;
  EXPECT_EQ(avi.stream.frame_top, 0) << c.name;
  EXPECT_EQ(avi.stream.frame_right, c.bitmap.width) << c.name;
  EXPECT_EQ(avi.stream.frame_bottom, c.bitmap.height) << c.name;
  // The main header is layout, which the platform library fills its own way
  // (see platform_library_test.cpp); ours states the rate and the index.
  if (!program_uses_platform_video_library()) {
    EXPECT_EQ(avi.main.micro_sec_per_frame, 33333u) << c.name;
    EXPECT_EQ(avi.main.flags, 0x10u) << c.name;
  }
  EXPECT_EQ(avi.main.width, static_cast<std::uint32_t>(c.bitmap.width)) << c.name;
  EXPECT_EQ(avi.main.height, main_header_height(c.bitmap.height)) << c.name;
  EXPECT_EQ(avi.format, format_of(c.bitmap)) << c.name;
}

void expect_ffmpeg_agrees(const std::string& path, const VideoCase& c,
                          const std::vector<std::vector<std::uint8_t>>& frames) {
  const auto probe = probe_stream(path);
  EXPECT_EQ(probe.at("exit"), "0") << c.name << ": " << probe.at("stderr");
  EXPECT_EQ(probe.at("stderr"), "") << c.name;
  // ffprobe says N/A, not 0, for a stream without frames.
  const std::string count = frames.empty() ? "N/A" : std::to_string(frames.size());
  EXPECT_EQ(probe.at("nb_frames"), count) << c.name;
  EXPECT_EQ(probe.at("nb_read_frames"), count) << c.name;
  EXPECT_EQ(probe.at("r_frame_rate"), "30/1") << c.name;
  EXPECT_EQ(probe.at("width"), std::to_string(c.bitmap.width)) << c.name;
  EXPECT_EQ(probe.at("height"), std::to_string(std::abs(c.bitmap.height))) << c.name;
  if (c.bitmap.bit_count != 24) return;  // ffmpeg would decode through the palette
  std::vector<std::uint8_t> expected;
  for (const auto& frame : frames) {
    const auto decoded = as_decoded(frame, c.bitmap.width, c.bitmap.height);
    expected.insert(expected.end(), decoded.begin(), decoded.end());
  }
  EXPECT_EQ(decode_bgr24(path), expected) << c.name;
}

TEST(ProgramVideo, FramesAreTheCanvasAtEachSeparator) {
  for (const VideoCase& c : video_cases()) {
    Workspace workspace;
    workspace.put_bitmap(c.bitmap);
    workspace.put("test_.dat", data_text(c.lines, c.line_end));
    const auto inputs_before = workspace.snapshot({"TEST_.BMP", "test_.dat"});
    const ProcessResult result = workspace.run();
    ASSERT_EQ(result.exit_status, 0) << c.name;
    EXPECT_EQ(result.standard_error, "") << c.name;
    EXPECT_EQ(workspace.snapshot({"TEST_.BMP", "test_.dat"}), inputs_before) << c.name;

    const std::string path = workspace.file("TEST01_.AVI");
    const auto frames = expected_frames(c.bitmap, c.lines);
    const AviSummary avi = walk_avi(path, 0, program_layout());
    EXPECT_EQ(avi.errors, std::vector<std::string>{}) << c.name;
    EXPECT_EQ(avi.segment_count, 1) << c.name;
    ASSERT_EQ(avi.frames.size(), frames.size()) << c.name;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(read_frame(path, avi.frames[i]), frames[i]) << c.name << ", frame " << i;
      EXPECT_TRUE(avi.frames[i].key_frame) << c.name << ", frame " << i;
    }
    expect_stream_headers(avi, c, frames.size());
    expect_ffmpeg_agrees(path, c, frames);
    // Our library writes the same bytes on every build: another build's
    // video is this machine's own build's, byte for byte, from the same inputs.
    if (program_is_another_build() && !program_uses_platform_video_library()) {
      const std::vector<std::uint8_t> video = read_file(path);
      ASSERT_EQ(workspace.run_command({TRAILAVI_PROGRAM_PATH}).exit_status, 0) << c.name;
      EXPECT_TRUE(read_file(path) == video) << c.name << ": not the native video";
    }
  }
}

// The walk-through, byte for byte: 4 x 2 white, marks at (0, 0) then (1, 0).
TEST(ProgramVideo, WalkThroughFramesAreExactlyTheDescribedBytes) {
  Workspace workspace;
  workspace.put_bitmap({});
  workspace.put("test_.dat", "0 0\n\n1 0\n\n");
  ASSERT_EQ(workspace.run().exit_status, 0);
  const std::string path = workspace.file("TEST01_.AVI");
  const AviSummary avi = walk_avi(path, 0, program_layout());
  ASSERT_EQ(avi.frames.size(), 2u);
  std::vector<std::uint8_t> frame0(24, 255);
  std::fill_n(frame0.begin(), 3, 128);
  std::vector<std::uint8_t> frame1 = frame0;
  std::fill_n(frame1.begin() + 3, 3, 128);
  EXPECT_EQ(read_frame(path, avi.frames[0]), frame0);
  EXPECT_EQ(read_frame(path, avi.frames[1]), frame1);
}

// Backgrounds as people make them: a PPM turned into TEST_.BMP by the image
// tools users have. ImageMagick's default is a BITMAPV5HEADER; the others
// write the 40-byte header. Each video's last frame, as ffmpeg decodes it,
// must be the source picture as ffmpeg decodes it, with the marks on the
// right pixels (y = 0 is the bottom row of these bottom-up files).
TEST(ProgramVideo, BackgroundsMadeByImageToolsLineUpWithTheirMarks) {
  const struct {
    const char* name;
    std::vector<std::string> make_bitmap;
    const char* pixel_offset_line;
  } cases[] = {
      {"ImageMagick default", {"/usr/bin/convert", "source.ppm", "TEST_.BMP"}, "header1 size: 138"},
      {"ImageMagick BMP3", {"/usr/bin/convert", "source.ppm", "BMP3:TEST_.BMP"}, "header1 size: 54"},
      {"Pillow", {"/usr/bin/python3", "-c", "from PIL import Image; Image.open('source.ppm').save('TEST_.BMP')"},
       "header1 size: 54"},
      {"ffmpeg bgr24", {"ffmpeg", "-v", "error", "-i", "source.ppm", "-pix_fmt", "bgr24", "TEST_.BMP"},
       "header1 size: 54"},
      {"netpbm", {"sh", "-c", "ppmtobmp -bpp=24 source.ppm >TEST_.BMP 2>/dev/null"}, "header1 size: 54"},
  };
  constexpr std::int32_t kWidth = 7;
  constexpr std::int32_t kHeight = 5;
  const std::vector<PlotPoint> points = {{0, 0}, {6, 4}, {3, 1}, {100, -5}, {3, 1}, {2, 3}};
  std::string source = "P6\n7 5\n255\n";
  for (std::int32_t row = 0; row < kHeight; ++row) {
    for (std::int32_t x = 0; x < kWidth; ++x) source += {char(130 + 3 * (x ^ row)), char(200 - 11 * row), char(40 + 7 * x)};
  }
  std::vector<DataLine> lines(points.begin(), points.end());
  lines.emplace_back(kSep);
  for (const auto& c : cases) {
    Workspace workspace;
    workspace.put("source.ppm", source);
    ASSERT_EQ(workspace.run_command(c.make_bitmap).exit_status, 0) << c.name << ": is the tool installed?";
    workspace.put("test_.dat", data_text(lines));
    const ProcessResult result = workspace.run();
    ASSERT_EQ(result.exit_status, 0) << c.name;
    EXPECT_NE(result.standard_output.find(std::string("biBitCount: 24") + program_line_end()), std::string::npos)
        << c.name;
    EXPECT_NE(result.standard_output.find(c.pixel_offset_line + program_line_end()), std::string::npos) << c.name;

    std::vector<std::uint8_t> expected = decode_bgr24(workspace.file("source.ppm"));
    ASSERT_EQ(expected.size(), std::size_t{3 * kWidth * kHeight}) << c.name;
    for (const PlotPoint& point : points) {
      const std::int32_t x = std::clamp(point.x, 0, kWidth - 1);
      const std::int32_t top_row = kHeight - 1 - std::clamp(point.y, 0, kHeight - 1);
      for (std::int32_t i = 0; i < 3; ++i) {
        std::uint8_t& b = expected[static_cast<std::size_t>(3 * (top_row * kWidth + x) + i)];
        b = b < 127 ? 0 : static_cast<std::uint8_t>(b - 127);
      }
    }
    EXPECT_EQ(decode_bgr24(workspace.file("TEST01_.AVI")), expected) << c.name;
  }
}

}  // namespace
}  // namespace trailavi::test
