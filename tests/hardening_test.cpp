// Bad input, failing disks and stopped runs: every failure ends with its
// status, prints nothing beyond the report lines already out, leaves an
// earlier video as it was and no incomplete one, and never changes an input;
// hostile inputs neither crash the program nor make it use memory without
// bound.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/avi_walker.hpp"
#include "support/expected_report.hpp"
#include "support/ffmpeg_reader.hpp"
#include "support/movie_model.hpp"
#include "support/workspace.hpp"

namespace trailavi::test {
namespace {

const std::vector<std::string> kInputs = {"TEST_.BMP", "test_.dat"};
const std::string kEarlierVideo = "an earlier video, to be kept whole until a new one is complete\n";
// What a folder holds after a run that failed or was stopped, without a
// temporary file left beside the earlier video.
const std::map<std::string, std::string> kInputsAndEarlierVideo = {
    {"TEST01_.AVI", "file"}, {"TEST_.BMP", "file"}, {"test_.dat", "file"}};

// A sanitized program's memory holds the sanitizer's own, so it is not
// measured against the program's budget.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

AviLayout program_layout() {
  return program_uses_platform_video_library() ? AviLayout::platform_library : AviLayout::ours;
}

// The driver runs our layer on Linux; under Wine its cases have been run.
#define SKIP_UNDER_WINE(why)                              \
  if (program_under_wine()) GTEST_SKIP() << "SKIPPED under Wine: " why

ProcessResult run_driver(const Workspace& workspace, const std::vector<std::string>& options,
                         const std::vector<std::string>& environment = {}) {
  std::vector<std::string> argv = {TRAILAVI_DRIVER_PATH};
  argv.insert(argv.end(), options.begin(), options.end());
  return run_process(argv, workspace.file(""), environment);
}

// How many of each operation on the video file a run makes; it ends with `status`.
std::map<std::string, int> operation_counts(const Workspace& workspace, const std::vector<std::string>& options,
                                            int status) {
  const ProcessResult result = run_driver(workspace, options, {"TRAILAVI_DRIVER_COUNTS=1"});
  EXPECT_EQ(result.exit_status, status);
  std::map<std::string, int> counts;
  std::istringstream words(result.standard_error);
  std::string name;
  int count = 0;
  while (words >> name >> count) counts[name] = count;
  return counts;
}

struct FaultCase {
  const char* name;
  BitmapSpec bitmap;
  std::string points;
  std::vector<std::string> options;
  int status = 0;  // of a run with these options alone
};

// For every operation the video file undergoes in a run, a run in which just
// that one fails: creation gives 9, anything after it 12, the report is the
// whole report, the earlier video is as it was and the incomplete file is gone.
// A write lost while reported a success, as the platform library's are on a
// full disk, shows only in the finished file's size: a row whose run loses a
// frame chunk ends with 12 on its own.
TEST(FaultInjection, EveryFailedOperationEndsWithItsStatusAndKeepsTheEarlierVideo) {
  SKIP_UNDER_WINE("faults are injected into our layer by the Linux test driver");
  std::string many_frames;
  for (int i = 0; i < 120; ++i) many_frames += std::to_string(i % 7) + " " + std::to_string(i % 5) + "\n\n";
  // Ten frames with several batches of points before each: the reading
  // thread is ahead of the writing by the whole ring when a write fails.
  std::string many_batches;
  for (int i = 0; i < 60000; ++i) many_batches += std::to_string(i % 20) + " 3\n" + (i % 6000 == 5999 ? "\n" : "");
  const FaultCase cases[] = {
      {"two frames", {}, "0 0\n\n1 0\n\n", {}},
      {"no frames", {}, "0 0\n", {}},
      {"several segments", {.width = 7, .height = 5, .pixels = pattern_pixels(7, 5)}, many_frames,
       {"--riff-limit", "8000"}},
      // 30,000-byte frames: one lost takes the file below the least a
      // complete file of three holds.
      {"a lost frame chunk", {.width = 100, .height = 100}, "0 0\n\n1 0\n\n2 0\n\n", {"--fail", "lose", "1"}, 12},
      // A failed write stops the thread reading the lines, wherever it is.
      {"lines read beside the writing", {.width = 20, .height = 20}, many_batches, {"--threads", "2"}},
  };
  for (const FaultCase& c : cases) {
    Workspace workspace;
    workspace.put_bitmap(c.bitmap);
    workspace.put("test_.dat", c.points);
    workspace.put("TEST01_.AVI", kEarlierVideo);
    const auto before_alone = workspace.snapshot({"TEST01_.AVI"});
    const ProcessResult alone = run_driver(workspace, c.options);
    EXPECT_EQ(alone.exit_status, c.status) << c.name;
    if (c.status != 0) {
      EXPECT_EQ(workspace.snapshot({"TEST01_.AVI"}), before_alone) << c.name;
      EXPECT_EQ(workspace.listing(), kInputsAndEarlierVideo) << c.name;
    }
    const std::string& expected_report = alone.standard_output;
    const auto inputs = workspace.snapshot(kInputs);
    const std::map<std::string, int> counts = operation_counts(workspace, c.options, c.status);
    workspace.put("TEST01_.AVI", kEarlierVideo);
    const auto earlier = workspace.snapshot({"TEST01_.AVI"});
    ASSERT_EQ(counts.size(), 4u) << c.name;
    EXPECT_EQ(counts.at("create"), 1) << c.name;
    EXPECT_EQ(counts.at("close"), 1) << c.name;
    EXPECT_GE(counts.at("seek"), 1) << c.name << ": the header is rewritten at the end";
    for (const auto& [operation, count] : counts) {
      for (int index = 0; index < count; ++index) {
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--fail", operation, std::to_string(index)});
        const ProcessResult result = run_driver(workspace, options);
        const std::string where = std::string(c.name) + ", " + operation + " " + std::to_string(index);
        EXPECT_EQ(result.exit_status, operation == "create" ? 9 : 12) << where;
        EXPECT_EQ(result.standard_output, expected_report) << where;
        EXPECT_EQ(result.standard_error, "") << where;
        EXPECT_EQ(workspace.snapshot({"TEST01_.AVI"}), earlier) << where;
        EXPECT_EQ(workspace.listing(), kInputsAndEarlierVideo) << where;
      }
    }
    EXPECT_EQ(workspace.snapshot(kInputs), inputs) << c.name;
  }
}

// A real full disk: a small tmpfs that the video cannot fit.
TEST(FullDisk, AVideoThatDoesNotFitEndsWith12AndKeepsTheEarlierVideo) {
  if (::geteuid() != 0) GTEST_SKIP() << "SKIPPED: mounting a tmpfs needs root";
  Workspace outside;
  const std::string mount_point = outside.file("small-disk");
  std::filesystem::create_directory(mount_point);
  if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "SKIPPED: cannot mount a tmpfs here: " << std::strerror(errno);
  }
  const BitmapSpec bitmap{.width = 400, .height = 400};  // 480 KB frames
  write_file(mount_point + "/TEST_.BMP", bitmap_bytes(bitmap));
  write_file(mount_point + "/test_.dat", std::string("1 1\n\n\n\n\n\n"));
  write_file(mount_point + "/TEST01_.AVI", kEarlierVideo);
  const ProcessResult result = run_process(program_command(TRAILAVI_PROGRAM_PATH), mount_point);
  const auto listing = outside.listing("small-disk");
  const auto video_after = read_file(mount_point + "/TEST01_.AVI");
  const auto bitmap_after = read_file(mount_point + "/TEST_.BMP");
  ::umount(mount_point.c_str());
  EXPECT_EQ(result.exit_status, 12);
  EXPECT_EQ(result.standard_output, join_lines(bitmap_lines(bitmap) + prescan_lines(1, 5, 1, 1)));
  EXPECT_EQ(listing, kInputsAndEarlierVideo);
  EXPECT_EQ(video_after, std::vector<std::uint8_t>(kEarlierVideo.begin(), kEarlierVideo.end()));
  EXPECT_EQ(bitmap_after, bitmap_bytes(bitmap));
}

bool is_temporary(const std::string& name) { return name.starts_with("TEST01_.AVI.incomplete-"); }

// Waits until the run's temporary file has reached `bytes`, so that the run
// is in its frame pass.
bool wait_for_temporary(const Workspace& workspace, std::uintmax_t bytes) {
  for (int waited_ms = 0; waited_ms < 60000; waited_ms += 2) {
    for (const auto& [name, kind] : workspace.listing()) {
      std::error_code error;
      if (is_temporary(name) && std::filesystem::file_size(workspace.file(name), error) >= bytes && !error) {
        return true;
      }
    }
    ::usleep(2000);
  }
  return false;
}

// A run stopped in its frame pass, by a signal or by the file size limit,
// or on Windows from its console: the report is out whole (a signal leaves
// no buffer to flush), the earlier video is as it was, and no temporary file
// is left, except after SIGKILL, which no program can act on. The console's
// event comes from a Windows program (console_interrupt), which waits for
// the frame pass itself and says what the run's exit code was.
TEST(StoppedRun, TheEarlierVideoIsKeptAndTheReportIsOut) {
  const BitmapSpec bitmap{.width = 600, .height = 600};  // frames of about 1 MB
  std::string points;
  for (int i = 0; i < 2000; ++i) points += "1 1\n\n";
  // Past a megabyte, where a machine of several cores reads the lines on a
  // thread of their own.
  std::string many_points;
  const std::string padded_point = "1 1" + std::string(250, ' ') + "\n";
  for (int i = 0; i < 2000; ++i) many_points += padded_point + padded_point + padded_point + padded_point + "\n";
  const std::string report = join_lines(bitmap_lines(bitmap) + prescan_lines(2000, 2000, 1, 1));
  const std::string many_report = join_lines(bitmap_lines(bitmap) + prescan_lines(8000, 2000, 1, 1));
  constexpr int kConsole = -1;  // the console's Ctrl-Break or Ctrl-C, on Windows
  const struct {
    const char* name;
    int signal;  // 0: the file size limit stops it
    int status;
    bool past_a_megabyte = false;
  } cases[] = {
      {"file size limit", 0, 12}, {"SIGINT", SIGINT, -1},   {"SIGTERM", SIGTERM, -1},
      {"SIGHUP", SIGHUP, -1},     {"SIGKILL", SIGKILL, -1}, {"console", kConsole, 0},
      {"file size limit, lines read beside", 0, 12, true}, {"SIGINT, lines read beside", SIGINT, -1, true},
      {"SIGTERM, lines read beside", SIGTERM, -1, true},
  };
  for (const auto& c : cases) {
    if (program_under_wine() != (c.signal == kConsole)) continue;
    Workspace workspace;
    workspace.put_bitmap(bitmap);
    workspace.put("test_.dat", c.past_a_megabyte ? many_points : points);
    workspace.put("TEST01_.AVI", kEarlierVideo);
    const auto earlier = workspace.snapshot({"TEST01_.AVI"});
    std::vector<std::string> argv = program_command(TRAILAVI_PROGRAM_PATH);
    // ulimit -f counts 512-byte blocks: 4 MiB, a few frames.
    if (c.signal == 0) argv.insert(argv.begin(), {"/bin/sh", "-c", "ulimit -f 8192 && exec \"$@\"", "sh"});
    if (c.signal == kConsole) {
      std::vector<std::string> interrupt = command_from_environment("TRAILAVI_CONSOLE_INTERRUPT");
      ASSERT_FALSE(interrupt.empty()) << "TRAILAVI_CONSOLE_INTERRUPT names no program";
      interrupt.push_back(argv.back());
      argv = interrupt;
    }
    ProcessResult result;
    if (c.signal > 0) {
      const StartedProcess process = start_process(argv, workspace.file(""));
      const bool in_frame_pass = wait_for_temporary(workspace, 4 << 20);
      EXPECT_TRUE(in_frame_pass) << c.name;
      ::kill(process.pid, in_frame_pass ? c.signal : SIGKILL);
      result = finish_process(process);
    } else {
      // Started again, should Wine's loader fail to start it.
      result = run_process(argv, workspace.file(""));
    }
    EXPECT_EQ(result.exit_status, c.status) << c.name;
    EXPECT_EQ(result.terminating_signal, std::max(c.signal, 0)) << c.name;
    EXPECT_EQ(result.standard_output, c.past_a_megabyte ? many_report : report) << c.name;
    if (c.signal == kConsole) {
      // An interrupted console program's exit code, STATUS_CONTROL_C_EXIT,
      // after the event that Windows (or Wine) could deliver.
      const std::string exit_code = " exit code 0xc000013a" + program_line_end();
      EXPECT_TRUE(result.standard_error == "CTRL_BREAK_EVENT" + exit_code ||
                  result.standard_error == "CTRL_C_EVENT" + exit_code)
          << result.standard_error;
    }
    EXPECT_EQ(workspace.snapshot({"TEST01_.AVI"}), earlier) << c.name;
    auto listing = workspace.listing();
    const auto temporaries = std::erase_if(listing, [](const auto& entry) { return is_temporary(entry.first); });
    EXPECT_EQ(temporaries, c.signal == SIGKILL ? 1u : 0u) << c.name;
    EXPECT_EQ(listing, kInputsAndEarlierVideo) << c.name;
  }
}

// Runs the program as an ordinary user: as root, whom no permission stops,
// as nobody.
ProcessResult run_as_ordinary_user(const Workspace& workspace) {
  std::vector<std::string> argv = program_command(TRAILAVI_PROGRAM_PATH);
  if (::geteuid() == 0) argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  return workspace.run_command(argv);
}

// A finished video replaces the earlier one where it stands: through a link,
// at the link's end, the link kept; with the earlier file's permission bits,
// or for a new file those that creating it gives. In a folder that takes no
// new file, a writable earlier video is written in place.
TEST(EarlierVideo, AFinishedVideoReplacesItWhereItStands) {
  const mode_t umask_bits = ::umask(0);
  ::umask(umask_bits);
  const unsigned new_mode = 0666 & ~umask_bits;
  const auto earlier_video = [](const std::string& name, unsigned mode) {
    return [name, mode](Workspace& w) {
      std::filesystem::create_directory(w.file("elsewhere"));
      w.put(name, kEarlierVideo);
      ::chmod(w.file(name).c_str(), mode);
    };
  };
  const struct {
    const char* name;
    std::function<void(Workspace&)> prepare;
    const char* link_target;  // what TEST01_.AVI links to, or none
    std::string video;        // where the video is to be found
    unsigned mode;
    bool folder_takes_no_new_file = false;
  } cases[] = {
      {"no earlier video", [](Workspace&) {}, nullptr, "TEST01_.AVI", new_mode},
      {"an earlier video", earlier_video("TEST01_.AVI", 0640), nullptr, "TEST01_.AVI", 0640},
      {"a link to a video elsewhere", earlier_video("elsewhere/v.avi", 0604), "elsewhere/v.avi",
       "elsewhere/v.avi", 0604},
      {"a link to no file yet", earlier_video("elsewhere/v.avi", 0604), "elsewhere/new.avi",
       "elsewhere/new.avi", new_mode},
      {"a folder that takes no new file", earlier_video("TEST01_.AVI", 0666), nullptr, "TEST01_.AVI", 0666, true},
  };
  for (const auto& c : cases) {
    // Links are POSIX's; under Wine the video replaces the earlier file, its
    // permission bits aside.
    if (program_under_wine() && (c.link_target != nullptr || c.folder_takes_no_new_file)) continue;
    Workspace workspace;
    workspace.put_bitmap({});
    workspace.put("test_.dat", "0 0\n\n1 0\n\n");
    c.prepare(workspace);
    if (c.link_target != nullptr) std::filesystem::create_symlink(c.link_target, workspace.file("TEST01_.AVI"));
    if (c.folder_takes_no_new_file) ::chmod(workspace.file("").c_str(), 0555);
    const ProcessResult result = c.folder_takes_no_new_file ? run_as_ordinary_user(workspace) : workspace.run();
    EXPECT_EQ(result.exit_status, 0) << c.name;
    const AviSummary avi = walk_avi(workspace.file(c.video), 0, program_layout());
    EXPECT_EQ(avi.errors, std::vector<std::string>{}) << c.name;
    EXPECT_EQ(avi.frames.size(), 2u) << c.name;
    const auto listing = workspace.listing();
    EXPECT_EQ(listing.at("TEST01_.AVI"), c.link_target != nullptr ? std::string("link to ") + c.link_target : "file")
        << c.name;
    if (c.link_target != nullptr) {
      EXPECT_EQ(workspace.listing("elsewhere").size(), c.video == "elsewhere/v.avi" ? 1u : 2u) << c.name;
    }
    EXPECT_EQ(std::count_if(listing.begin(), listing.end(), [](const auto& entry) { return is_temporary(entry.first); }), 0)
        << c.name;
    if (!program_under_wine()) {
      struct stat info {};
      ASSERT_EQ(::stat(workspace.file(c.video).c_str(), &info), 0) << c.name;
      EXPECT_EQ(info.st_mode & 07777, c.mode) << c.name;
    }
  }
}

TEST(ChangedBetweenPasses, TheFramesFollowTheSecondPassAndTheHeadersSayHowMany) {
  SKIP_UNDER_WINE("the file is changed between the passes by the Linux test driver");
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::size_t frames;
  } cases[] = {
      {"grows", {"--between-passes-append", "4 1\n\n\n"}, 5},
      {"shrinks", {"--between-passes-truncate", "8"}, 1},  // "0 0\n\n1 1" is left: one separator
      {"emptied", {"--between-passes-truncate", "0"}, 0},
      {"grows, read beside the writing", {"--between-passes-append", "4 1\n\n\n", "--threads", "2"}, 5},
      {"shrinks, read beside the writing", {"--between-passes-truncate", "8", "--threads", "2"}, 1},
      {"emptied, read beside the writing", {"--between-passes-truncate", "0", "--threads", "2"}, 0},
  };
  for (const auto& c : cases) {
    Workspace workspace;
    workspace.put_bitmap({});
    workspace.put("test_.dat", "0 0\n\n1 1\n\n2 1\n\n");
    const ProcessResult result = run_driver(workspace, c.options);
    EXPECT_EQ(result.exit_status, 0) << c.name;
    EXPECT_EQ(result.standard_output, join_lines(bitmap_lines({}) + prescan_lines(3, 3, 2, 1))) << c.name;
    const AviSummary avi = walk_avi(workspace.file("TEST01_.AVI"), 0, program_layout());
    EXPECT_EQ(avi.errors, std::vector<std::string>{}) << c.name;
    EXPECT_EQ(avi.frames.size(), c.frames) << c.name;
    EXPECT_EQ(avi.stream.length, c.frames) << c.name;
    EXPECT_EQ(avi.main.total_frames, c.frames) << c.name;
    const auto probe = probe_stream(workspace.file("TEST01_.AVI"));
    EXPECT_EQ(probe.at("exit"), "0") << c.name << ": " << probe.at("stderr");
  }
}

// Lines read on a thread of their own, in batches through a ring, make the
// video and report that reading them on the writing thread makes, byte for
// byte, and so does the pre-scan in parts: runs of separators and of points
// each several times the ring's batches, and points on fresh pixels next to
// every separator, so that a point handed over on the wrong side of one
// shows. Long lines and carriage returns among them. The program itself
// runs, on Linux and under Wine: on one processor (taskset), where its
// passes take one thread, and on two, where files of a megabyte or more
// are read on both.
TEST(ChangedBetweenPasses, LinesReadBesideTheWritingMakeTheSameVideo) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "SKIPPED: one processor, so no second thread";
  // Separator lines of text and point lines with text after their
  // integers, so that the files pass the megabyte with the same lines.
  const std::string separator = std::string(40, '-') + "\n";
  auto separators = [&separator](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += separator;
    return text;
  };
  const std::string separator_runs = "1 1\n" + separators(3000) + "2 2\r\n" + std::string(300, ' ') + "3 1\n" +
                                     separators(9000) + "4 2\n" + separators(20000);
  std::string fresh_points;
  for (int i = 0; i < 45000; ++i) {
    fresh_points += std::to_string(i % 300) + (i % 1000 == 0 ? "\r " : " ") + std::to_string(i / 300) +
                    " a point of the trail\n";
    if (i % 299 == 0) fresh_points += i % 7 == 0 ? std::string(500, ' ') + "\n" : "\n";
  }
  const struct {
    const char* name;
    BitmapSpec bitmap;
    std::string points;
  } cases[] = {
      {"separator runs", {.width = 5, .height = 3, .pixels = pattern_pixels(5, 3)}, separator_runs},
      {"fresh points", {.width = 300, .height = 150}, fresh_points},
  };
  for (const auto& c : cases) {
    ASSERT_GE(c.points.size(), 1u << 20) << c.name << ": too small for the threads";
    std::vector<std::uint8_t> video[2];
    std::string report[2];
    for (int threads : {1, 2}) {
      Workspace workspace;
      workspace.put_bitmap(c.bitmap);
      workspace.put("test_.dat", c.points);
      std::vector<std::string> command = program_command(TRAILAVI_PROGRAM_PATH);
      if (threads == 1) command.insert(command.begin(), {"taskset", "-c", "0"});
      const ProcessResult result = workspace.run_command(command);
      EXPECT_EQ(result.exit_status, 0) << c.name << ", " << threads;
      report[threads - 1] = result.standard_output;
      video[threads - 1] = read_file(workspace.file("TEST01_.AVI"));
      // Another build's threads make this machine's own build's video.
      if (threads == 2 && program_is_another_build() && !program_uses_platform_video_library()) {
        ASSERT_EQ(workspace.run_command({TRAILAVI_PROGRAM_PATH}).exit_status, 0) << c.name;
        EXPECT_TRUE(read_file(workspace.file("TEST01_.AVI")) == video[1]) << c.name << ": not the native video";
      }
    }
    EXPECT_EQ(report[1], report[0]) << c.name;
    EXPECT_TRUE(video[1] == video[0]) << c.name << ": videos of " << video[1].size() << " and " << video[0].size()
                                      << " bytes";
  }
}

TEST(HostileInput, TheVideoCannotBeWrittenOverAnInput) {
  const struct {
    const char* name;
    const char* target;
    bool hard_link;
  } cases[] = {
      {"link to the bitmap", "TEST_.BMP", false},
      {"link to the point file", "test_.dat", false},
      {"hard link to the point file", "test_.dat", true},
  };
  for (const auto& c : cases) {
    Workspace workspace;
    workspace.put_bitmap({});
    workspace.put("test_.dat", "0 0\n\n1 0\n\n");
    if (c.hard_link) {
      std::filesystem::create_hard_link(workspace.file(c.target), workspace.file("TEST01_.AVI"));
    } else {
      std::filesystem::create_symlink(c.target, workspace.file("TEST01_.AVI"));
    }
    const auto inputs = workspace.snapshot(kInputs);
    const ProcessResult result = workspace.run();
    EXPECT_EQ(result.exit_status, 9) << c.name;
    EXPECT_EQ(workspace.snapshot(kInputs), inputs) << c.name;
  }
}

// A valid 8 x 3 picture cut short at every length up to 100 bytes: too short
// for the headers gives 5 after the first line; from 54 bytes on the picture
// loads and its frames are what is there, the marks kept inside them.
TEST(HostileInput, BitmapsTruncatedAtEveryByte) {
  const BitmapSpec full{.width = 8, .height = 3, .pixels = pattern_pixels(8, 3)};
  const std::vector<std::uint8_t> bytes = bitmap_bytes(full);
  ASSERT_GT(bytes.size(), 100u);
  for (std::size_t length = 0; length <= 100; ++length) {
    Workspace workspace;
    workspace.put("TEST_.BMP", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
    workspace.put("test_.dat", "1 1\n\n7 2\n\n");
    const ProcessResult result = workspace.run();
    const std::string fsize = "fsize: " + std::to_string(static_cast<long>(length) - 14);
    if (length < 54) {
      EXPECT_EQ(result.exit_status, 5) << length;
      EXPECT_EQ(result.standard_output, join_lines({fsize})) << length;
      continue;
    }
    EXPECT_EQ(result.exit_status, 0) << length;
    std::vector<std::string> lines = bitmap_lines(full) + prescan_lines(2, 2, 7, 2);
    lines[0] = fsize;
    EXPECT_EQ(result.standard_output, join_lines(lines)) << length;
    // The pixel region is whatever follows the header; a mark lands only on
    // a pixel whose three bytes are all there.
    const AviSummary avi = walk_avi(workspace.file("TEST01_.AVI"), 0, program_layout());
    EXPECT_EQ(avi.errors, std::vector<std::string>{}) << length;
    ASSERT_EQ(avi.frames.size(), 2u) << length;
    std::vector<std::uint8_t> canvas(bytes.begin() + 54, bytes.begin() + static_cast<std::ptrdiff_t>(length));
    auto mark = [&canvas](std::size_t x, std::size_t y) {
      const std::size_t at = 3 * x + 24 * y;
      if (at + 3 > canvas.size()) return;
      for (std::size_t i = 0; i < 3; ++i) canvas[at + i] = canvas[at + i] < 127 ? 0 : canvas[at + i] - 127;
    };
    mark(1, 1);
    EXPECT_EQ(read_frame(workspace.file("TEST01_.AVI"), avi.frames[0]), canvas) << length;
    mark(7, 2);
    EXPECT_EQ(read_frame(workspace.file("TEST01_.AVI"), avi.frames[1]), canvas) << length;
  }
}

// Sizes at the extremes of 32 bits, with 48 bytes of pixels whatever the
// header claims: the report shows the 32-bit arithmetic, and marks stay in
// the 48 bytes.
TEST(HostileInput, DimensionsAtTheExtremes) {
  const std::int32_t extremes[] = {0, 1, -1, INT32_MIN, INT32_MAX, 715827882, 1431655765, -715827883};
  for (std::int32_t width : extremes) {
    for (std::int32_t height : {0, 1, -1, INT32_MIN, INT32_MAX, 3}) {
      const BitmapSpec bitmap{.width = width, .height = height, .pixels = pattern_pixels(4, 4)};
      Workspace workspace;
      workspace.put_bitmap(bitmap);
      workspace.put("test_.dat", "0 0\n\n" + std::to_string(INT32_MAX) + " " + std::to_string(INT32_MAX) +
                                     "\n-5 -9\n1 1\n\n");
      const ProcessResult result = workspace.run();
      const std::string name = std::to_string(width) + " x " + std::to_string(height);
      ASSERT_EQ(result.exit_status, 0) << name;
      EXPECT_EQ(result.standard_output, join_lines(bitmap_lines(bitmap) + prescan_lines(4, 2, INT32_MAX, INT32_MAX)))
          << name;
      const AviSummary avi = walk_avi(workspace.file("TEST01_.AVI"), 0, program_layout());
      EXPECT_EQ(avi.errors, std::vector<std::string>{}) << name;
      ASSERT_EQ(avi.frames.size(), 2u) << name;
      EXPECT_EQ(avi.frames[1].size_bytes, 48u) << name;
    }
  }
}

// Every bit count from 0 to 64 with no colour count: those with a colour
// table size load (the file has room for the largest table), the rest end
// with 6 after the first line.
TEST(HostileInput, EveryBitCount) {
  for (int bits = 0; bits <= 64; ++bits) {
    BitmapSpec bitmap{.width = 2, .height = 2, .bit_count = static_cast<std::uint16_t>(bits),
                      .trailing = std::vector<std::uint8_t>(1024, 0x55)};
    Workspace workspace;
    workspace.put_bitmap(bitmap);
    workspace.put("test_.dat", "1 1\n\n");
    const ProcessResult result = workspace.run();
    const std::map<int, int> table_bytes = {{1, 8}, {4, 64}, {8, 1024}, {16, 0}, {24, 0}, {32, 0}};
    const auto found = table_bytes.find(bits);
    if (found == table_bytes.end()) {
      EXPECT_EQ(result.exit_status, 6) << bits;
      EXPECT_EQ(result.standard_output, join_lines({"fsize: " + std::to_string(40 + 16 + 1024)})) << bits;
      continue;
    }
    EXPECT_EQ(result.exit_status, 0) << bits;
    const AviSummary avi = walk_avi(workspace.file("TEST01_.AVI"), 0, program_layout());
    EXPECT_EQ(avi.errors, std::vector<std::string>{}) << bits;
    EXPECT_EQ(avi.format.size(), static_cast<std::size_t>(40 + found->second)) << bits;
    ASSERT_EQ(avi.frames.size(), 1u) << bits;
    EXPECT_EQ(avi.frames[0].size_bytes, static_cast<std::uint32_t>(16 + 1024 - found->second)) << bits;
  }
}

// A gigabyte on a single line, without a line end, read twice: 255-character
// pieces of NUL bytes, every one a separator, so 4,210,753 frames of a
// picture without pixels. Segments end at their count of frames long before
// their size limit, so the index kept in memory, and the memory, stay bounded.
TEST(HostileInput, AGigabyteLineOfNulBytes) {
  SKIP_UNDER_WINE("the gigabyte run and its memory are measured on Linux");
  Workspace workspace;
  workspace.put_bitmap({.width = 0, .height = 0});  // the headers alone: frames of 0 bytes
  workspace.put("test_.dat", std::string());
  std::filesystem::resize_file(workspace.file("test_.dat"), std::uint64_t{1} << 30);  // sparse: reads as NULs
  const ProcessResult result = workspace.run();
  constexpr std::int32_t kPieces = ((1 << 30) + 254) / 255;
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.standard_output, join_lines(bitmap_lines({.width = 0, .height = 0}) + prescan_lines(0, kPieces, 0, 0)));
  if (!kSanitized) {
    EXPECT_LT(result.peak_rss_kib, 16 * 1024) << "KiB at the peak";
  }
  const AviSummary avi = walk_avi(workspace.file("TEST01_.AVI"), 0, program_layout());
  EXPECT_EQ(avi.errors, std::vector<std::string>{});
  EXPECT_EQ(avi.frames.size(), static_cast<std::size_t>(kPieces));
  EXPECT_EQ(avi.segment_count, 5) << "2^20 frames a segment at most";
}

// The address space limited in steps from the least the program starts with
// to what the whole run needs: each allocation that cannot be had ends the
// run with the status of its stage, in the order of the stages, and never
// with an abort or a word on standard error. Every stage that allocates
// much gets its turn: the picture (5), the point file's buffer (7) and the
// writer's frame index (12). Below the start, the loader itself fails.
TEST(MemoryPressure, EveryLimitEndsWithAStageStatus) {
  if (kSanitized) GTEST_SKIP() << "SKIPPED: a sanitizer reserves terabytes of address space";
  const std::vector<std::string> program = program_command(TRAILAVI_PROGRAM_PATH);
  if (program.size() != 1) GTEST_SKIP() << "SKIPPED: the limit would fall on the program's launcher";
  auto run_limited = [&program](const Workspace& workspace, long kib) {
    return workspace.run_command({"sh", "-c", "ulimit -v " + std::to_string(kib) + " && exec \"$0\"", program[0]});
  };
  // The least limit at which the program reaches main: in an empty folder it
  // then ends with 1, the picture missing.
  const Workspace empty;
  long low = 1024;
  long high = 256 * 1024;
  ASSERT_EQ(run_limited(empty, high).exit_status, 1);
  while (high - low > 16) {
    const long middle = (low + high) / 2;
    (run_limited(empty, middle).exit_status == 1 ? high : low) = middle;
  }

  Workspace workspace;
  workspace.put_bitmap({.width = 300, .height = 580});  // a 522,000-byte picture
  workspace.put("test_.dat", "1 1\n\n2 2\n\n3 3\n\n");
  // Opening the picture (1) takes a little memory too. Then the stages'
  // statuses in their order; 0 last.
  const std::vector<int> order = {1, 5, 7, 9, 10, 11, 12, 0};
  auto rank = [&order](int status) { return std::find(order.begin(), order.end(), status) - order.begin(); };
  std::vector<int> seen;
  for (long kib = high; kib < high + 64 * 1024 && (seen.empty() || seen.back() != 0); kib += 64) {
    const ProcessResult result = run_limited(workspace, kib);
    const std::string where = std::to_string(kib) + " KiB";
    ASSERT_LT(rank(result.exit_status), std::ssize(order))
        << where << ": status " << result.exit_status << ", " << result.standard_error;
    EXPECT_EQ(result.standard_error, "") << where;
    EXPECT_EQ(workspace.exists("TEST01_.AVI"), result.exit_status == 0) << where;
    if (seen.empty() || seen.back() != result.exit_status) seen.push_back(result.exit_status);
    std::filesystem::remove(workspace.file("TEST01_.AVI"));
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 0) << "the run never completed";
  for (std::size_t i = 1; i < seen.size(); ++i) {
    EXPECT_LT(rank(seen[i - 1]), rank(seen[i])) << "status " << seen[i] << " after " << seen[i - 1] << ": more memory ended the run at an earlier stage";
  }
  for (int status : {5, 7, 12}) {
    EXPECT_NE(std::find(seen.begin(), seen.end(), status), seen.end()) << "no limit ended the run with " << status;
  }
}

}  // namespace
}  // namespace trailavi::test
