#pragma once

#include <string>
#include <vector>

namespace trailavi::test {

struct ProcessResult {
  int exit_status = -1;  // the exit code, or -1 when the process did not exit normally
  int terminating_signal = 0;  // the signal that ended it, or 0 when it exited
  std::string standard_output;
  std::string standard_error;
  long peak_rss_kib = 0;  // the process's peak resident memory
};

// Runs `argv` (argv[0] searched on PATH) in `working_dir`, with the
// NAME=VALUE settings of `environment` added to its environment, and
// collects what it writes to standard output and standard error.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& working_dir,
                          const std::vector<std::string>& environment = {});

// A process started without waiting for it, so that a test can watch what it
// does and signal it; finish_process collects what run_process returns.
struct StartedProcess {
  int pid = -1;
  int out_fd = -1;
  int err_fd = -1;
};
StartedProcess start_process(const std::vector<std::string>& argv, const std::string& working_dir,
                             const std::vector<std::string>& environment = {});
ProcessResult finish_process(const StartedProcess& process);

// The command that runs the program under test: TRAILAVI_PROGRAM, split at
// blanks (so that it can name a launcher such as wine before the program),
// or `fallback`.
std::vector<std::string> program_command(const std::string& fallback);

// The command an environment variable names, split at blanks; empty when
// the variable is unset or empty.
std::vector<std::string> command_from_environment(const char* variable);

// The line end the program's standard output uses: "\r\n" when
// TRAILAVI_CRLF is set (a Windows build), "\n" otherwise.
std::string program_line_end();

// Whether the program under test was built against the platform video
// library (TRAILAVI_VIDEO_LIBRARY=platform), whose files are laid out its own way.
bool program_uses_platform_video_library();

// Whether the program under test runs under Wine (TRAILAVI_PROGRAM names it).
bool program_under_wine();

// Whether the program under test is another build than this machine's own
// (TRAILAVI_PROGRAM names one: for Windows, or for another processor).
bool program_is_another_build();

}  // namespace trailavi::test
