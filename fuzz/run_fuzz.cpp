// A whole run on an arbitrary bitmap and point file, written through our
// video library with a RIFF limit and, at times, a failed file operation
// chosen by the input. Whatever the inputs:
//   - the status is one of the table's, the report has the lines of the
//     stages that ran, and its counts are those of the point file's pieces;
//   - a failure injected into the video file and reached ends the run with a
//     failure status, never 0, and no video is left behind after 10 to 12;
//   - with nothing injected, a run that gets past the pre-scan succeeds, and
//     its video is well formed (our RIFF walker), declares and holds one
//     frame per separator line, with the bitmap's header as its format and,
//     as each frame, the marked canvas of a plain model of the marking.
//
// Input: a byte of RIFF limit (bit 7 set: no point file), a byte of fault
// (bit 7 set: fail the operation of its low 2 bits), the fault's index, two
// bytes of bitmap length (0xFFFF: no bitmap), the bitmap, the point file.

#include <cstdlib>
#include <cstring>

#include "fuzz_support.hpp"
#include "input/background_image.hpp"
#include "input/point_file.hpp"
#include "movie/point_marking.hpp"
#include "movie/video_stream.hpp"
#include "platform/avi_writer.hpp"
#include "platform/own_video_library_testing.hpp"
#include "run/run.hpp"
#include "support/avi_walker.hpp"
#include "support/fault_injecting_file.hpp"
#include "support/parse_point_line.hpp"
#include "support/text_rules_model.hpp"

namespace {

using trailavi::ExitStatus;
using trailavi::Point;
namespace fuzz = trailavi::fuzz;
using trailavi::test::FaultInjectingFile;

constexpr std::size_t kMaxBitmapBytes = 4096;
// Frames times frame bytes: what one iteration may write at most.
constexpr std::size_t kMaxVideoBytes = 2 << 20;
constexpr std::size_t kNoBitmap = 0xFFFF;

// What each iteration's video file is created with, passed at its creation.
trailavi::platform::testing::AviFileSettings settings;

HRESULT open_video_file(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, LPCLSID /*lpHandler*/) {
  return trailavi::platform::testing::open_avi_file(ppfile, szFile, uMode, settings);
}

struct Plan {
  std::uint64_t riff_limit_bytes = trailavi::platform::kDefaultRiffLimitBytes;
  std::uint64_t walker_riff_limit = 0;  // 0: the limit is too small to hold
  bool has_point_file = true;
  bool inject = false;
  FaultInjectingFile::Operation operation{};
  std::uint64_t fault_index = 0;
  bool has_bitmap = true;
  std::string_view bitmap;
  std::string_view points;
};

Plan read_plan(fuzz::InputReader& input) {
  Plan plan;
  const std::uint8_t limit = input.u8();
  plan.has_point_file = (limit & 0x80) == 0;
  const std::uint64_t selector = limit & 0x7F;
  // Limits of 32 KiB and more hold the header, one frame and the indexes,
  // so the walker can hold the file to them; smaller ones cannot be kept.
  if (selector >= 64) {
    plan.riff_limit_bytes = plan.walker_riff_limit = (32 << 10) + (selector - 64) * (4 << 10);
  } else if (selector > 0) {
    plan.riff_limit_bytes = selector * 256;
  }
  const std::uint8_t fault = input.u8();
  plan.inject = (fault & 0x80) != 0;
  plan.operation = static_cast<FaultInjectingFile::Operation>(fault & 3);
  plan.fault_index = input.u8();
  const std::size_t bitmap_bytes = input.u16();
  plan.has_bitmap = bitmap_bytes != kNoBitmap;
  plan.bitmap = input.bytes(plan.has_bitmap ? bitmap_bytes : 0);
  plan.points = input.rest();
  return plan;
}

// How many pieces the point file can have at most: one a line feed, and one
// for each 255 characters besides, so the run's writing can be bounded
// before it starts.
std::size_t most_pieces(std::string_view text) {
  std::size_t line_feeds = 0;
  for (char c : text) line_feeds += c == '\n';
  return line_feeds + text.size() / 255 + 1;
}

std::int32_t report_value(const std::vector<std::string>& lines, std::size_t index) {
  const std::string& line = lines[index];
  const std::size_t at = line.find_last_of(' ');
  return static_cast<std::int32_t>(std::stol(line.substr(at == std::string::npos ? 0 : at + 1)));
}

// The marking stated plainly: clamp into the picture, three bytes at
// 3 x + stride y if they lie in the region, each darkened by 127 to a floor
// of 0.
void model_mark(std::vector<std::uint8_t>& canvas, std::int64_t width, std::int64_t height, std::int64_t stride,
                Point point) {
  const std::int64_t rows = std::abs(height);  // a negative height: rows stored top-down
  if (width <= 0 || rows == 0) return;
  const std::int64_t x = std::clamp<std::int64_t>(point.x, 0, width - 1);
  const std::int64_t y = std::clamp<std::int64_t>(point.y, 0, rows - 1);
  const std::int64_t offset = 3 * x + stride * y;
  if (offset < 0 || offset + 3 > static_cast<std::int64_t>(canvas.size())) return;
  for (std::int64_t i = offset; i < offset + 3; ++i) {
    const std::size_t at = static_cast<std::size_t>(i);
    canvas[at] = canvas[at] < 127 ? 0 : static_cast<std::uint8_t>(canvas[at] - 127);
  }
}

// Report lines 7 to 9 against the pieces of the model, each classified.
void check_counts(const Plan& plan, const std::vector<std::string>& lines) {
  std::int32_t points = 0;
  std::int32_t separators = 0;
  Point most{0, 0};
  for (const std::string& piece : trailavi::test::model_pieces(plan.points)) {
    Point point;
    if (!trailavi::test::parse_point_line(piece, point)) {
      ++separators;
      continue;
    }
    ++points;
    most = {std::max(most.x, point.x), std::max(most.y, point.y)};
  }
  const std::string expected = "number of data: " + std::to_string(points) + "|number of frame: " +
                               std::to_string(separators) + "|xmax: " + std::to_string(most.x) +
                               ", ymax: " + std::to_string(most.y);
  const std::string got = lines[7] + "|" + lines[8] + "|" + lines[9];
  FUZZ_CHECK(got == expected, "report says %s, the model %s\n", got.c_str(), expected.c_str());
}

void check_video(const Plan& plan, const std::vector<std::string>& lines) {
  const trailavi::test::AviSummary avi = trailavi::test::walk_avi(trailavi::kVideoFileName, plan.walker_riff_limit);
  FUZZ_CHECK(avi.errors.empty(), "the walker finds: %s\n", avi.errors.front().c_str());
  const std::size_t header_bytes = static_cast<std::size_t>(report_value(lines, 6)) - 14;
  const std::int32_t frame_count = report_value(lines, 8);
  FUZZ_CHECK(avi.stream.length == static_cast<std::uint32_t>(frame_count));
  FUZZ_CHECK(avi.frames.size() == static_cast<std::size_t>(frame_count), "%zu frames for %d separators\n",
             avi.frames.size(), frame_count);
  const std::string_view format = plan.bitmap.substr(14, header_bytes);
  FUZZ_CHECK(avi.format.size() == format.size() && std::memcmp(avi.format.data(), format.data(), format.size()) == 0,
             "the stream format is not the bitmap's header\n");

  std::int32_t w = 0;
  std::int32_t h = 0;
  FUZZ_CHECK(std::sscanf(lines[3].c_str(), "width: %d, height: %d", &w, &h) == 2);
  FUZZ_CHECK(avi.main.width == static_cast<std::uint32_t>(w) &&
             avi.main.height == static_cast<std::uint32_t>(std::abs(std::int64_t{h})));
  const std::int64_t stride = report_value(lines, 4);
  const std::string_view pixels = plan.bitmap.substr(14 + header_bytes);
  std::vector<std::uint8_t> canvas(pixels.begin(), pixels.end());
  std::size_t frame = 0;
  for (const std::string& piece : trailavi::test::model_pieces(plan.points)) {
    Point point;
    if (trailavi::test::parse_point_line(piece, point)) {
      model_mark(canvas, w, h, stride, point);
      continue;
    }
    FUZZ_CHECK(trailavi::test::read_frame(trailavi::kVideoFileName, avi.frames[frame]) == canvas,
               "frame %zu is not the canvas of the model\n", frame);
    ++frame;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::enter_scratch_dir(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const Plan plan = read_plan(input);
  if (plan.bitmap.size() > kMaxBitmapBytes) return 0;
  if (plan.has_point_file && most_pieces(plan.points) * plan.bitmap.size() > kMaxVideoBytes) return 0;

  for (const char* name : {trailavi::kBackgroundFileName, trailavi::kPointFileName, trailavi::kVideoFileName}) {
    fuzz::remove_file(name);
  }
  if (plan.has_bitmap) fuzz::write_file(trailavi::kBackgroundFileName, plan.bitmap);
  if (plan.has_point_file) fuzz::write_file(trailavi::kPointFileName, plan.points);
  FaultInjectingFile file;
  if (plan.inject) file.fail_at(plan.operation, plan.fault_index);
  settings = {.riff_limit_bytes = plan.riff_limit_bytes, .file_operations = &file};

  fuzz::CapturedOutput output;
  trailavi::Report report(output.stream());
  const ExitStatus status = trailavi::run(report, open_video_file);
  const std::vector<std::string> lines = fuzz::split_lines(output.text());
  const int code = static_cast<int>(status);
  const bool injected = plan.inject && file.performed(plan.operation) > plan.fault_index;

  FUZZ_CHECK(code >= 0 && code <= 12, "status %d\n", code);
  // The report stops where the run stopped: the bitmap lines come by
  // status 5 and 6, the point lines after the bitmap stage.
  const std::size_t expected_lines = code >= 1 && code <= 4 ? 0 : code <= 6 && code != 0 ? 1 : code == 7 ? 7 : 10;
  FUZZ_CHECK(lines.size() == expected_lines, "%zu report lines with status %d\n", lines.size(), code);
  FUZZ_CHECK(code >= 5 || code == 0 || !plan.has_bitmap, "status %d from a bitmap that exists\n", code);
  FUZZ_CHECK(code != 7 || !plan.has_point_file, "status 7 with a point file\n");
  FUZZ_CHECK(code != 8, "status 8 from a regular point file\n");
  if (lines.size() == 10) check_counts(plan, lines);
  if (code != 0) {
    FUZZ_CHECK(!fuzz::file_exists(trailavi::kVideoFileName), "a video left behind after status %d\n", code);
  }
  if (injected) {
    FUZZ_CHECK(code >= 9, "an injected failure of operation %d at %llu ended with status %d\n",
               static_cast<int>(plan.operation), static_cast<unsigned long long>(plan.fault_index), code);
    return 0;
  }
  FUZZ_CHECK(code < 9, "status %d with nothing injected\n", code);
  if (code != 0) return 0;
  check_video(plan, lines);
  return 0;
}
