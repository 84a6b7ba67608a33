#include "process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace trailavi::test {
namespace {

void read_available(int fd, std::string& out, bool& open) {
  char buffer[65536];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) {
    out.append(buffer, static_cast<std::size_t>(got));
  } else if (got == 0 || errno != EINTR) {
    open = false;
  }
}

[[noreturn]] void exec_child(const std::vector<std::string>& argv, const std::string& working_dir,
                             const std::vector<std::string>& environment, int out_fd, int err_fd) {
  ::dup2(out_fd, STDOUT_FILENO);
  ::dup2(err_fd, STDERR_FILENO);
  if (::chdir(working_dir.c_str()) != 0) _exit(126);
  // The stop signals as a shell starts a program, whatever this test's own
  // launcher chose to ignore.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal_number, SIG_DFL);
  for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  _exit(127);
}

}  // namespace

StartedProcess start_process(const std::vector<std::string>& argv, const std::string& working_dir,
                             const std::vector<std::string>& environment) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) exec_child(argv, working_dir, environment, out_pipe[1], err_pipe[1]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  return {child, out_pipe[0], err_pipe[0]};
}

// The output is what the program wrote before it exited. Reading stops at
// its exit, once the pipes hold nothing more, rather than at the pipes' end:
// processes it leaves running may hold them open (Wine's services, started
// by the first Windows program of a session, linger for seconds).
ProcessResult finish_process(const StartedProcess& process) {
  ProcessResult result;
  bool out_open = true;
  bool err_open = true;
  bool exited = false;
  int status = 0;
  rusage usage {};
  while (out_open || err_open) {
    pollfd fds[2] = {{out_open ? process.out_fd : -1, POLLIN, 0}, {err_open ? process.err_fd : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, exited ? 0 : 10);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    if (ready == 0 && exited) break;
    if (fds[0].revents != 0) read_available(process.out_fd, result.standard_output, out_open);
    if (fds[1].revents != 0) read_available(process.err_fd, result.standard_error, err_open);
    // Everything the child wrote is in the pipes once it has exited.
    if (!exited && ::wait4(process.pid, &status, WNOHANG, &usage) == process.pid) exited = true;
  }
  ::close(process.out_fd);
  ::close(process.err_fd);
  while (!exited && ::wait4(process.pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.terminating_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.peak_rss_kib = usage.ru_maxrss;
  return result;
}

namespace {

// Wine's loader, now and then, fails to start a program it started a moment
// before and says so on standard output ("ShellExecuteEx failed"). The
// program never ran, so its folder is as it was and the run can be made
// again; the program under test never prints those words itself.
bool wine_could_not_start(const std::vector<std::string>& argv, const ProcessResult& result) {
  return !argv.empty() && argv[0].find("wine") != std::string::npos &&
         result.standard_output.find("ShellExecuteEx failed") != std::string::npos;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& working_dir,
                          const std::vector<std::string>& environment) {
  ProcessResult result = finish_process(start_process(argv, working_dir, environment));
  for (int retry = 0; retry < 3 && wine_could_not_start(argv, result); ++retry) {
    std::fprintf(stderr, "note: Wine could not start %s; starting it again\n", argv.size() > 1 ? argv[1].c_str() : "");
    result = finish_process(start_process(argv, working_dir, environment));
  }
  return result;
}

std::vector<std::string> command_from_environment(const char* variable) {
  const char* configured = std::getenv(variable);
  std::vector<std::string> words;
  std::istringstream in(configured != nullptr ? configured : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<std::string> program_command(const std::string& fallback) {
  std::vector<std::string> words = command_from_environment("TRAILAVI_PROGRAM");
  if (words.empty()) words.push_back(fallback);
  return words;
}

std::string program_line_end() {
  const char* crlf = std::getenv("TRAILAVI_CRLF");
  return crlf != nullptr && *crlf != '\0' ? "\r\n" : "\n";
}

bool program_uses_platform_video_library() {
  const char* library = std::getenv("TRAILAVI_VIDEO_LIBRARY");
  return library != nullptr && std::string(library) == "platform";
}

bool program_is_another_build() { return !command_from_environment("TRAILAVI_PROGRAM").empty(); }

bool program_under_wine() {
  for (const std::string& word : command_from_environment("TRAILAVI_PROGRAM")) {
    if (word.find("wine") != std::string::npos) return true;
  }
  return false;
}

}  // namespace trailavi::test
