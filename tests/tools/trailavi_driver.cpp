// The program's run sequence with our video library configured for a test:
//
//   trailavi_driver [--riff-limit BYTES] [--fail OPERATION INDEX]...
//                   [--between-passes-append TEXT] [--between-passes-truncate BYTES]
//
// --riff-limit sets the largest RIFF segment, so that tiny inputs make
// multi-segment files; --fail makes the INDEX-th (from 0) create, write, seek
// or close of the video file fail; the --between-passes options change
// test_.dat after the pre-scan, before the frame pass reads it again.
// Otherwise it behaves as trailavi: the same files, report and exit status.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/output_file.hpp"
#include "platform/own_video_library_testing.hpp"
#include "run/run.hpp"

namespace {

using trailavi::platform::fault_injection::Operation;

bool parse_operation(const char* name, Operation& operation) {
  const struct {
    const char* name;
    Operation operation;
  } kOperations[] = {{"create", Operation::create}, {"write", Operation::write},
                     {"seek", Operation::seek}, {"close", Operation::close}};
  for (const auto& known : kOperations) {
    if (std::strcmp(name, known.name) == 0) {
      operation = known.operation;
      return true;
    }
  }
  return false;
}

int usage() {
  std::fprintf(stderr,
               "usage: trailavi_driver [--riff-limit BYTES] [--fail create|write|seek|close INDEX]...\n"
               "                       [--between-passes-append TEXT] [--between-passes-truncate BYTES]\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  trailavi::platform::fault_injection::reset();
  std::function<void()> between_passes;  // TEMPORARY until the file-operations seam lands
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--riff-limit") == 0 && i + 1 < argc) {
      trailavi::platform::testing::set_riff_limit_bytes(std::strtoull(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--fail") == 0 && i + 2 < argc) {
      Operation operation{};
      if (!parse_operation(argv[i + 1], operation)) return usage();
      trailavi::platform::fault_injection::fail_at(operation, std::strtoull(argv[i + 2], nullptr, 10));
      i += 2;
    } else if (std::strcmp(argv[i], "--between-passes-append") == 0 && i + 1 < argc) {
      const std::string text = argv[++i];
      between_passes = [text] { std::ofstream("test_.dat", std::ios::binary | std::ios::app) << text; };
    } else if (std::strcmp(argv[i], "--between-passes-truncate") == 0 && i + 1 < argc) {
      const auto bytes = std::strtoull(argv[++i], nullptr, 10);
      between_passes = [bytes] { std::filesystem::resize_file("test_.dat", bytes); };
    } else {
      return usage();
    }
  }
  trailavi::Report report(stdout);
  const trailavi::ExitStatus status = trailavi::run(report);
  // For the fault-injection tests: how many of each operation the run made.
  if (const char* counts = std::getenv("TRAILAVI_DRIVER_COUNTS"); counts != nullptr && *counts != '\0') {
    using trailavi::platform::fault_injection::performed;
    std::fprintf(stderr, "create %llu write %llu seek %llu close %llu\n",
                 static_cast<unsigned long long>(performed(Operation::create)),
                 static_cast<unsigned long long>(performed(Operation::write)),
                 static_cast<unsigned long long>(performed(Operation::seek)),
                 static_cast<unsigned long long>(performed(Operation::close)));
  }
  return static_cast<int>(status);
}
