// The Windows builds under Wine: the program built against the platform
// video library and the one built against ours write the same stream for the
// same inputs, and the platform library reads back every file ours writes.
//
// The commands come from the environment, each split at blanks:
//   TRAILAVI_OWN_PROGRAM       e.g. "wine build/own/trailavi.exe"
//   TRAILAVI_PLATFORM_PROGRAM  the same program against the platform library
//   TRAILAVI_AVI_READER        e.g. "wine build/own/avi_read_dump.exe"
//
// What binds is the stream information, the format, the frames' contents
// and order, the key-frame flag and the rate. The layout around them is each
// library's own, and the platform library (Wine 8's) fills these differently
// from ours, so they are not compared:
//   - avih dwMicroSecPerFrame: it stores rate x 10^6 / scale, 30,000,000
//     (ours: 33,333); dwPaddingGranularity 2048 (ours 0); dwFlags 0x810,
//     AVIF_HASINDEX with AVIF_TRUSTCKTYPE (ours 0x10); dwMaxBytesPerSec
//     from the payload alone (ours counts the chunk header too);
//   - it pads the header with a top-level JUNK so that the first frame
//     starts at 2 KiB, where ours reserves JUNK inside strl and hdrl for the
//     OpenDML indexes;
//   - it writes an empty 20-byte chunk record after the RIFF;
//   - it stores an empty frame as a '00dc' chunk that, after the first
//     frame, is not flagged as a key frame (ours: '00db', a key frame).
// And when it reads a file, it fills in a biClrUsed of 0 in the format it
// returns (256 for 8 bits a pixel).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "support/avi_walker.hpp"
#include "support/expected_report.hpp"
#include "support/ffmpeg_reader.hpp"
#include "support/movie_model.hpp"
#include "support/workspace.hpp"

namespace trailavi::test {
namespace {

const Separator kSep;

struct Commands {
  std::vector<std::string> own_program = command_from_environment("TRAILAVI_OWN_PROGRAM");
  std::vector<std::string> platform_program = command_from_environment("TRAILAVI_PLATFORM_PROGRAM");
  std::vector<std::string> reader = command_from_environment("TRAILAVI_AVI_READER");
  [[nodiscard]] bool complete() const { return !own_program.empty() && !platform_program.empty() && !reader.empty(); }
};

#define REQUIRE_COMMANDS(commands) \
  if (!(commands).complete()) GTEST_SKIP() << "TRAILAVI_OWN_PROGRAM, TRAILAVI_PLATFORM_PROGRAM and TRAILAVI_AVI_READER are not all set"

struct StreamCase {
  const char* name;
  BitmapSpec bitmap;
  std::vector<DataLine> lines;
};

std::vector<std::uint8_t> palette(int entries) {
  std::vector<std::uint8_t> table;
  for (int i = 0; i < entries; ++i) table.insert(table.end(), {std::uint8_t(i), std::uint8_t(255 - i), 7, 0});
  return table;
}

const std::vector<StreamCase>& stream_cases() {
  static const std::vector<StreamCase> cases = {
      {"walk-through", {}, {PlotPoint{0, 0}, kSep, PlotPoint{1, 0}, kSep}},
      {"no frames", {.pixels = pattern_pixels(4, 2)}, {PlotPoint{1, 1}}},
      {"odd frame size", {.width = 2, .height = 2, .pixels = pattern_pixels(2, 2), .trailing = {1, 2, 3}},
       {PlotPoint{1, 1}, kSep, kSep, PlotPoint{0, 0}, kSep}},
      {"width not a multiple of 4", {.width = 7, .height = 5, .pixels = pattern_pixels(7, 5)},
       {PlotPoint{6, 0}, PlotPoint{0, 4}, kSep, PlotPoint{3, 2}, kSep, PlotPoint{40, -3}, kSep}},
      {"16-colour table",
       {.width = 8, .height = 2, .bit_count = 8, .clr_used = 16, .colour_table = palette(16),
        .pixels = std::vector<std::uint8_t>(16, 200)},
       {PlotPoint{1, 0}, kSep, PlotPoint{7, 1}, kSep}},
      {"8 bits with biClrUsed 0",
       {.width = 4, .height = 2, .bit_count = 8, .colour_table = palette(256),
        .pixels = std::vector<std::uint8_t>(8, 9)},
       {kSep, PlotPoint{0, 0}, kSep}},
      {"empty frames", {.width = 0, .height = 0}, {kSep, kSep, kSep}},
      {"top-down rows", {.width = 5, .height = -3, .pixels = pattern_pixels(5, 3)},
       {PlotPoint{0, 0}, kSep, PlotPoint{4, 9}, kSep}},
      {"V5 header, as ImageMagick writes it",
       {.width = 7, .height = 5, .pixels = pattern_pixels(7, 5), .info_header_bytes = 124},
       {PlotPoint{6, 4}, kSep, PlotPoint{0, 0}, kSep}},
  };
  return cases;
}

void put_inputs(Workspace& workspace, const StreamCase& c) {
  workspace.put_bitmap(c.bitmap);
  workspace.put("test_.dat", data_text(c.lines));
}

bool has_empty_frames(const StreamCase& c) { return bitmap_bytes(c.bitmap).size() == 14 + format_of(c.bitmap).size(); }

// What the platform library reads back, from the reader's lines.
struct ReadBack {
  int exit_status = -1;
  std::string standard_error;
  std::map<std::string, std::string> fields;  // fccType, dwRate, rcFrame, ...
  std::vector<std::uint8_t> format;
  struct Frame {
    long sample = -1;
    bool key = false;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Frame> frames;
};

std::vector<std::uint8_t> from_hex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

ReadBack read_back(const Workspace& workspace, const Commands& commands, const std::string& name) {
  std::vector<std::string> argv = commands.reader;
  argv.push_back(name);
  const ProcessResult result = workspace.run_command(argv);
  ReadBack out{result.exit_status, result.standard_error, {}, {}, {}};
  std::istringstream lines(result.standard_output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (key == "format") {
      out.format = from_hex(value);
    } else if (key == "frame") {
      ReadBack::Frame frame;
      std::string key_word, size_word, hex;
      std::size_t size = 0;
      std::istringstream words(value);
      words >> frame.sample >> key_word >> frame.key >> size_word >> size >> hex;
      frame.bytes = from_hex(hex);
      if (frame.bytes.size() != size) ADD_FAILURE() << "frame " << frame.sample << " has " << size << " bytes, not all dumped";
      out.frames.push_back(std::move(frame));
    } else {
      out.fields[key] = value;
    }
  }
  return out;
}

// Runs `command` in `workspace` and keeps its video as `name`.
ProcessResult run_keeping_video(const Workspace& workspace, const std::vector<std::string>& command,
                                const std::string& name) {
  const ProcessResult result = workspace.run_command(command);
  std::error_code ignored;
  std::filesystem::rename(workspace.file("TEST01_.AVI"), workspace.file(name), ignored);
  return result;
}

// Every field of the stream header, to compare as one.
auto stream_fields(const AviStreamHeader& s) {
  return std::make_tuple(s.fcc_type, s.fcc_handler, s.flags, s.priority, s.language, s.initial_frames, s.scale,
                         s.rate, s.start, s.length, s.suggested_buffer_size, s.quality, s.sample_size, s.frame_left,
                         s.frame_top, s.frame_right, s.frame_bottom);
}

TEST(PlatformLibrary, WritesTheSameStreamAsOurs) {
  const Commands commands;
  REQUIRE_COMMANDS(commands);
  for (const StreamCase& c : stream_cases()) {
    Workspace workspace;
    put_inputs(workspace, c);
    const ProcessResult ours_run = run_keeping_video(workspace, commands.own_program, "ours.avi");
    const ProcessResult platform_run = run_keeping_video(workspace, commands.platform_program, "platform.avi");
    const ProcessResult linux_run = run_keeping_video(workspace, {TRAILAVI_PROGRAM_PATH}, "linux.avi");
    ASSERT_EQ(ours_run.exit_status, 0) << c.name;
    ASSERT_EQ(platform_run.exit_status, 0) << c.name;
    ASSERT_EQ(linux_run.exit_status, 0) << c.name;
    // Our library writes the same file on every build, whatever its pointer size.
    EXPECT_TRUE(read_file(workspace.file("ours.avi")) == read_file(workspace.file("linux.avi"))) << c.name;
    EXPECT_EQ(platform_run.standard_output, ours_run.standard_output) << c.name;
    EXPECT_EQ(platform_run.standard_error, "") << c.name;

    const std::string ours_path = workspace.file("ours.avi");
    const std::string platform_path = workspace.file("platform.avi");
    const AviSummary ours = walk_avi(ours_path);
    const AviSummary platform = walk_avi(platform_path, 0, AviLayout::platform_library);
    EXPECT_EQ(ours.errors, std::vector<std::string>{}) << c.name;
    EXPECT_EQ(platform.errors, std::vector<std::string>{}) << c.name;
    EXPECT_EQ(stream_fields(platform.stream), stream_fields(ours.stream)) << c.name;
    EXPECT_EQ(platform.format, ours.format) << c.name;
    EXPECT_EQ(platform.main.width, ours.main.width) << c.name;
    // The main header's height is each library's own: ours states the rows,
    // the platform library the rectangle's height, negative when top-down.
    EXPECT_EQ(ours.main.height, static_cast<std::uint32_t>(std::abs(c.bitmap.height))) << c.name;
    EXPECT_EQ(platform.main.height, static_cast<std::uint32_t>(c.bitmap.height)) << c.name;
    EXPECT_EQ(platform.main.total_frames, ours.main.total_frames) << c.name;
    ASSERT_EQ(platform.frames.size(), ours.frames.size()) << c.name;
    for (std::size_t i = 0; i < ours.frames.size(); ++i) {
      const std::string frame = std::string(c.name) + ", frame " + std::to_string(i);
      EXPECT_EQ(read_frame(platform_path, platform.frames[i]), read_frame(ours_path, ours.frames[i])) << frame;
      EXPECT_TRUE(ours.frames[i].key_frame) << frame;
      if (has_empty_frames(c)) {
        // The platform library's way with empty frames (see the top).
        EXPECT_EQ(platform.frames[i].chunk_id, "00dc") << frame;
        EXPECT_EQ(platform.frames[i].key_frame, i == 0) << frame;
      } else {
        EXPECT_EQ(platform.frames[i].chunk_id, "00db") << frame;
        EXPECT_TRUE(platform.frames[i].key_frame) << frame;
      }
    }

    // ffprobe and ffmpeg see the same stream in both, frame for frame.
    auto ours_probe = probe_stream(ours_path);
    auto platform_probe = probe_stream(platform_path);
    if (!has_empty_frames(c)) {
      EXPECT_EQ(ours_probe.at("exit"), "0") << c.name << ": " << ours_probe.at("stderr");
    }
    ours_probe.erase("stderr");  // it names the file
    platform_probe.erase("stderr");
    EXPECT_EQ(platform_probe, ours_probe) << c.name;
    EXPECT_EQ(decode_bgr24(platform_path), decode_bgr24(ours_path)) << c.name;
  }
}

// The stream information and format the platform library reads from a file
// are what the program passed, and its frames are the canvas at each
// separator, each a key frame.
void expect_read_back(const ReadBack& got, const StreamCase& c, bool ours) {
  EXPECT_EQ(got.exit_status, 0) << c.name;
  EXPECT_EQ(got.standard_error, "") << c.name;
  const std::vector<std::vector<std::uint8_t>> frames = expected_frames(c.bitmap, c.lines);
  const std::map<std::string, std::string> expected_fields = {
      {"fccType", "vids"},
      {"fccHandler", "DIB "},
      {"dwScale", "1"},
      {"dwRate", "30"},
      {"dwStart", "0"},
      {"dwLength", std::to_string(frames.size())},
      {"dwQuality", "4294967295"},
      {"rcFrame", "0 0 " + std::to_string(c.bitmap.width) + " " + std::to_string(c.bitmap.height)},
  };
  EXPECT_EQ(got.fields, expected_fields) << c.name;
  std::vector<std::uint8_t> format = format_of(c.bitmap);
  if (c.bitmap.bit_count <= 8 && c.bitmap.clr_used == 0) {
    // The library fills in the count a biClrUsed of 0 implies.
    const std::uint32_t colours = 1u << c.bitmap.bit_count;
    for (int i = 0; i < 4; ++i) format[32 + i] = static_cast<std::uint8_t>(colours >> (8 * i));
  }
  EXPECT_EQ(got.format, format) << c.name;
  ASSERT_EQ(got.frames.size(), frames.size()) << c.name;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::string frame = std::string(c.name) + ", frame " + std::to_string(i);
    EXPECT_EQ(got.frames[i].sample, static_cast<long>(i)) << frame;
    EXPECT_EQ(got.frames[i].bytes, frames[i]) << frame;
    EXPECT_EQ(got.frames[i].key, ours || !has_empty_frames(c) || i == 0) << frame;
  }
}

TEST(PlatformLibrary, ReadsEveryFileOursWrites) {
  const Commands commands;
  REQUIRE_COMMANDS(commands);
  for (const StreamCase& c : stream_cases()) {
    Workspace workspace;
    put_inputs(workspace, c);
    ASSERT_EQ(run_keeping_video(workspace, commands.own_program, "ours.avi").exit_status, 0) << c.name;
    expect_read_back(read_back(workspace, commands, "ours.avi"), c, true);
    // And its own files, the same way.
    ASSERT_EQ(run_keeping_video(workspace, commands.platform_program, "platform.avi").exit_status, 0) << c.name;
    expect_read_back(read_back(workspace, commands, "platform.avi"), c, false);
  }
}

// A picture of 4000 x 4473 makes frames of 53,676,000 bytes: 40 of them fit
// in 2 GiB with 440 KB to spare, and a 41st would take the file past it,
// where the platform library would lose frames and report success. So the
// platform build writes 40 over an earlier video, and refuses 41 with status
// 12, leaving the earlier video as it was and no incomplete file.
TEST(PlatformLibrary, ProgramStopsBeforeTheFilePasses2GiB) {
  const Commands commands;
  REQUIRE_COMMANDS(commands);
  const BitmapSpec bitmap{.width = 4000, .height = 4473};
  const std::size_t stride = 12000;
  struct Case {
    std::int32_t frames;
    int status;
  };
  for (const Case& c : {Case{40, 0}, Case{41, 12}}) {
    Workspace workspace;
    workspace.put_bitmap(bitmap);
    // A mark in the first frame and one more in the last.
    std::vector<DataLine> lines = {PlotPoint{1, 1}, kSep};
    lines.insert(lines.end(), static_cast<std::size_t>(c.frames - 2), kSep);
    lines.insert(lines.end(), {PlotPoint{2, 2}, kSep});
    workspace.put("test_.dat", data_text(lines));
    workspace.put("TEST01_.AVI", std::string("an earlier video\n"));
    const auto earlier = workspace.snapshot({"TEST01_.AVI"});

    const ProcessResult result = workspace.run_command(commands.platform_program);
    EXPECT_EQ(result.exit_status, c.status) << c.frames;
    EXPECT_EQ(result.standard_output, join_lines(bitmap_lines(bitmap) + prescan_lines(2, c.frames, 2, 2))) << c.frames;
    EXPECT_EQ(result.standard_error, "") << c.frames;
    const std::map<std::string, std::string> inputs_and_video = {
        {"TEST01_.AVI", "file"}, {"TEST_.BMP", "file"}, {"test_.dat", "file"}};
    EXPECT_EQ(workspace.listing(), inputs_and_video) << c.frames << ": an incomplete video was left behind";
    if (c.status != 0) {
      EXPECT_EQ(workspace.snapshot({"TEST01_.AVI"}), earlier) << c.frames;
      continue;
    }
    const std::string path = workspace.file("TEST01_.AVI");
    EXPECT_LT(std::filesystem::file_size(path), std::uint64_t{1} << 31);
    const AviSummary avi = walk_avi(path, 0, AviLayout::platform_library);
    EXPECT_EQ(avi.errors, std::vector<std::string>{});
    EXPECT_EQ(avi.stream.length, 40u);
    ASSERT_EQ(avi.frames.size(), 40u);
    std::vector<std::uint8_t> frame(stride * 4473, 0xFF);
    std::fill_n(frame.begin() + stride + 3, 3, 128);
    EXPECT_TRUE(read_frame(path, avi.frames.front()) == frame) << "first frame";
    std::fill_n(frame.begin() + 2 * stride + 6, 3, 128);
    EXPECT_TRUE(read_frame(path, avi.frames.back()) == frame) << "last frame";
    const auto probe = probe_stream(path);
    EXPECT_EQ(probe.at("exit"), "0") << probe.at("stderr");
    EXPECT_EQ(probe.at("nb_read_frames"), "40");
  }
}

}  // namespace
}  // namespace trailavi::test
