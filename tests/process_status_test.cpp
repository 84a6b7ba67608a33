// The program as a process: for each check, the exit status and the exact
// report, nothing on standard error, and inputs left as they were.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "support/expected_report.hpp"
#include "support/workspace.hpp"

namespace trailavi::test {
namespace {

const BitmapSpec kWhite4x2{};
const std::string kWalkThroughData = "0 0\n\n1 0\n\n";

std::vector<std::string> all_lines() { return bitmap_lines(kWhite4x2) + prescan_lines(2, 2, 1, 0); }

// Feeds `text` into a FIFO: the writer waits in its open until the program
// opens the FIFO for reading, so that the text is there from the program's
// first read on (Wine's reads do not wait for a writer to come). A writer
// still waiting at the end is let go by an open of the reading end.
class FifoFeeder {
 public:
  FifoFeeder(std::string path, std::string text) : path_(std::move(path)) {
    thread_ = std::thread([this, text = std::move(text)] {
      const int fd = ::open(path_.c_str(), O_WRONLY);
      if (fd < 0) return;
      [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
      ::close(fd);
    });
  }
  ~FifoFeeder() {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    thread_.join();
    if (fd >= 0) ::close(fd);
  }
  FifoFeeder(const FifoFeeder&) = delete;
  FifoFeeder& operator=(const FifoFeeder&) = delete;

 private:
  std::string path_;
  std::thread thread_;
};

struct StatusCase {
  const char* name;
  std::function<void(Workspace&)> prepare;
  int status;
  std::vector<std::string> lines;
  // Links and FIFOs at the video's name are POSIX's: Windows sees them as files.
  bool posix_only = false;
  // Settings for this machine's own build alone, which loads a library
  // LD_PRELOAD names.
  std::vector<std::string> own_build_environment = {};
};

const std::vector<std::string> kFlushesFail = {"LD_PRELOAD=" TRAILAVI_FAILING_FSYNC_PATH};

std::vector<std::uint8_t> bitmap_prefix(std::size_t length) {
  std::vector<std::uint8_t> bytes = bitmap_bytes(kWhite4x2);
  bytes.resize(length);
  return bytes;
}

const std::vector<StatusCase>& status_cases() {
  static const std::vector<StatusCase> cases = {
      {"no bitmap", [](Workspace&) {}, 1, {}},
      {"bitmap is a directory", [](Workspace& w) { std::filesystem::create_directory(w.file("TEST_.BMP")); }, 1, {}},
      {"bitmap over 2 GiB",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         std::filesystem::resize_file(w.file("TEST_.BMP"), (std::uint64_t{1} << 31) + 14);
       },
       3, {}},
      {"bitmap of 14 bytes", [](Workspace& w) { w.put("TEST_.BMP", bitmap_prefix(14)); }, 5, {"fsize: 0"}},
      {"bitmap of 10 bytes", [](Workspace& w) { w.put("TEST_.BMP", bitmap_prefix(10)); }, 5, {"fsize: -4"}},
      {"empty bitmap", [](Workspace& w) { w.put("TEST_.BMP", std::string()); }, 5, {"fsize: -14"}},
      {"information header cut short", [](Workspace& w) { w.put("TEST_.BMP", bitmap_prefix(53)); }, 5,
       {"fsize: 39"}},
      {"colour table past the end",
       [](Workspace& w) { w.put_bitmap({.width = 4, .height = 2, .bit_count = 8}); }, 5, {"fsize: 64"}},
      {"biClrUsed of all ones", [](Workspace& w) { w.put_bitmap({.clr_used = 0xFFFFFFFF}); }, 5, {"fsize: 64"}},
      {"bit count 2", [](Workspace& w) { w.put_bitmap({.bit_count = 2}); }, 6, {"fsize: 64"}},
      {"no data file", [](Workspace& w) { w.put_bitmap(kWhite4x2); }, 7, bitmap_lines(kWhite4x2)},
      {"data file is a directory",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         std::filesystem::create_directory(w.file("test_.dat"));
       },
       7, bitmap_lines(kWhite4x2)},
      {"video name is a directory",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         w.put("test_.dat", kWalkThroughData);
         std::filesystem::create_directory(w.file("TEST01_.AVI"));
       },
       9, all_lines()},
      {"video in a folder that does not exist",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         w.put("test_.dat", kWalkThroughData);
         std::filesystem::create_symlink("no/such/folder/video.avi", w.file("TEST01_.AVI"));
       },
       9, all_lines(), true},
      {"video name links to a device",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         w.put("test_.dat", kWalkThroughData);
         std::filesystem::create_symlink("/dev/null", w.file("TEST01_.AVI"));
       },
       9, all_lines(), true},
      {"video name is a FIFO",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         w.put("test_.dat", kWalkThroughData);
         ::mkfifo(w.file("TEST01_.AVI").c_str(), 0600);
       },
       9, all_lines(), true},
      // Nothing at a FIFO's other end: opening it must not wait for a writer.
      {"bitmap is a FIFO", [](Workspace& w) { ::mkfifo(w.file("TEST_.BMP").c_str(), 0600); }, 2, {}, true},
      {"data file is a FIFO",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         ::mkfifo(w.file("test_.dat").c_str(), 0600);
       },
       8, bitmap_lines(kWhite4x2) + prescan_lines(0, 0, 0, 0), true},
      {"walk-through",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         w.put("test_.dat", kWalkThroughData);
       },
       0, all_lines()},
      // A video that replaces an earlier one reaches the disk first, or the
      // earlier one stays; a first video is not flushed at all.
      {"the new video cannot be flushed over an earlier one",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         w.put("test_.dat", kWalkThroughData);
         w.put("TEST01_.AVI", std::string("an earlier video"));
       },
       12, all_lines(), true, kFlushesFail},
      {"a first video where flushes fail",
       [](Workspace& w) {
         w.put_bitmap(kWhite4x2);
         w.put("test_.dat", kWalkThroughData);
       },
       0, all_lines(), true, kFlushesFail},
  };
  return cases;
}

TEST(ProgramStatus, EachCheckEndsTheRunWithItsStatusAndReport) {
  for (const StatusCase& c : status_cases()) {
    if ((c.posix_only && program_under_wine()) || (!c.own_build_environment.empty() && program_is_another_build())) {
      continue;
    }
    Workspace workspace;
    c.prepare(workspace);
    const auto inputs_before = workspace.snapshot({"TEST_.BMP", "test_.dat"});
    const auto files_before = workspace.snapshot({"TEST_.BMP", "test_.dat", "TEST01_.AVI"});
    const auto listing_before = workspace.listing();
    const ProcessResult result = workspace.run({}, c.own_build_environment);
    EXPECT_EQ(result.exit_status, c.status) << c.name;
    EXPECT_EQ(result.standard_output, join_lines(c.lines)) << c.name;
    EXPECT_EQ(result.standard_error, "") << c.name;
    EXPECT_EQ(workspace.snapshot({"TEST_.BMP", "test_.dat"}), inputs_before) << c.name;
    if (c.status != 0) {
      // Whatever stands at the video's name is left as it was, and nothing is added.
      EXPECT_EQ(workspace.snapshot({"TEST_.BMP", "test_.dat", "TEST01_.AVI"}), files_before) << c.name;
      EXPECT_EQ(workspace.listing(), listing_before) << c.name;
    }
  }
}

TEST(ProgramStatus, ABitmapThatCannotBePositionedEndsWith2) {
  Workspace workspace;
  ASSERT_EQ(::mkfifo(workspace.file("TEST_.BMP").c_str(), 0600), 0);
  // Holding the FIFO open for both ends lets the program's open go through.
  const int fd = ::open(workspace.file("TEST_.BMP").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  const ProcessResult result = workspace.run();
  ::close(fd);
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_EQ(result.standard_output, "");
}

TEST(ProgramStatus, ADataFileThatCannotBeRewoundEndsWith8AfterTheCounts) {
  Workspace workspace;
  workspace.put_bitmap(kWhite4x2);
  ASSERT_EQ(::mkfifo(workspace.file("test_.dat").c_str(), 0600), 0);
  ProcessResult result;
  {
    FifoFeeder feeder(workspace.file("test_.dat"), "5 6\n\n-1 9\nx\n\n");
    result = workspace.run();
  }
  EXPECT_EQ(result.exit_status, 8);
  EXPECT_EQ(result.standard_output, join_lines(bitmap_lines(kWhite4x2) + prescan_lines(2, 3, 5, 9)));
  EXPECT_FALSE(workspace.exists("TEST01_.AVI"));
}

TEST(ProgramStatus, ArgumentsChangeNothing) {
  Workspace plain;
  Workspace with_arguments;
  for (Workspace* w : {&plain, &with_arguments}) {
    w->put_bitmap(kWhite4x2);
    w->put("test_.dat", kWalkThroughData);
  }
  const ProcessResult expected = plain.run();
  const ProcessResult got = with_arguments.run({"--help", "other.bmp", "-o", "x.avi"});
  EXPECT_EQ(got.exit_status, expected.exit_status);
  EXPECT_EQ(got.standard_output, expected.standard_output);
  EXPECT_EQ(read_file(with_arguments.file("TEST01_.AVI")), read_file(plain.file("TEST01_.AVI")));
}

}  // namespace
}  // namespace trailavi::test
