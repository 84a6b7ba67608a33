// The program's run sequence with our video library configured for a test:
//
//   trailavi_driver [--riff-limit BYTES] [--fail OPERATION INDEX]...
//                   [--between-passes-append TEXT] [--between-passes-truncate BYTES]
//                   [--threads COUNT]
//
// --riff-limit sets the largest RIFF segment, so that tiny inputs make
// multi-segment files; --fail makes the INDEX-th (from 0) create, write, seek
// or close of the video file fail, or its INDEX-th write be lost (lose): it
// reports success having written nothing; the --between-passes options change
// test_.dat after the pre-scan, before the frame pass reads it again;
// --threads has the passes over test_.dat use COUNT threads, however small
// the file.
// Otherwise it behaves as trailavi: the same files, report and exit status.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/own_video_library_testing.hpp"
#include "run/run.hpp"
#include "support/fault_injecting_file.hpp"

namespace {

using trailavi::test::FaultInjectingFile;

// What the run's video file is created with: the options' settings, passed
// at its creation.
FaultInjectingFile file;
trailavi::platform::testing::AviFileSettings settings{.file_operations = &file};

HRESULT open_video_file(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, LPCLSID /*lpHandler*/) {
  return trailavi::platform::testing::open_avi_file(ppfile, szFile, uMode, settings);
}

int usage() {
  std::fprintf(stderr,
               "usage: trailavi_driver [--riff-limit BYTES] [--fail create|write|seek|close|lose INDEX]...\n"
               "                       [--between-passes-append TEXT] [--between-passes-truncate BYTES]\n"
               "                       [--threads COUNT]\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  trailavi::PassThreads threads = trailavi::PassThreads::of_this_machine();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--riff-limit") == 0 && i + 1 < argc) {
      settings.riff_limit_bytes = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--fail") == 0 && i + 2 < argc) {
      FaultInjectingFile::Operation operation{};
      if (!FaultInjectingFile::parse(argv[i + 1], operation)) return usage();
      file.fail_at(operation, std::strtoull(argv[i + 2], nullptr, 10));
      i += 2;
    } else if (std::strcmp(argv[i], "--between-passes-append") == 0 && i + 1 < argc) {
      // The video file is created after the pre-scan and before the frame
      // pass reads the point file again.
      const std::string text = argv[++i];
      file.before_create = [text] { std::ofstream("test_.dat", std::ios::binary | std::ios::app) << text; };
    } else if (std::strcmp(argv[i], "--between-passes-truncate") == 0 && i + 1 < argc) {
      const auto bytes = std::strtoull(argv[++i], nullptr, 10);
      file.before_create = [bytes] { std::filesystem::resize_file("test_.dat", bytes); };
    } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = {.count = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10)), .least_file_bytes = 0};
    } else {
      return usage();
    }
  }
  trailavi::Report report(stdout);
  const trailavi::ExitStatus status = trailavi::run(report, open_video_file, threads);
  // For the fault-injection tests: how many of each operation the run made.
  if (const char* counts = std::getenv("TRAILAVI_DRIVER_COUNTS"); counts != nullptr && *counts != '\0') {
    using Operation = FaultInjectingFile::Operation;
    std::fprintf(stderr, "create %llu write %llu seek %llu close %llu\n",
                 static_cast<unsigned long long>(file.performed(Operation::create)),
                 static_cast<unsigned long long>(file.performed(Operation::write)),
                 static_cast<unsigned long long>(file.performed(Operation::seek)),
                 static_cast<unsigned long long>(file.performed(Operation::close)));
  }
  return static_cast<int>(status);
}
