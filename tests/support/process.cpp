#include "process.hpp"

#include <cerrno>
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
  for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  _exit(127);
}

}  // namespace

// The output is what the program wrote before it exited. Reading stops at
// its exit, once the pipes hold nothing more, rather than at the pipes' end:
// processes it leaves running may hold them open (Wine's services, started
// by the first Windows program of a session, linger for seconds).
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& working_dir,
                          const std::vector<std::string>& environment) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) exec_child(argv, working_dir, environment, out_pipe[1], err_pipe[1]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  ProcessResult result;
  bool out_open = true;
  bool err_open = true;
  bool exited = false;
  int status = 0;
  rusage usage {};
  while (out_open || err_open) {
    pollfd fds[2] = {{out_open ? out_pipe[0] : -1, POLLIN, 0}, {err_open ? err_pipe[0] : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, exited ? 0 : 10);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    if (ready == 0 && exited) break;
    if (fds[0].revents != 0) read_available(out_pipe[0], result.standard_output, out_open);
    if (fds[1].revents != 0) read_available(err_pipe[0], result.standard_error, err_open);
    // Everything the child wrote is in the pipes once it has exited.
    if (!exited && ::wait4(child, &status, WNOHANG, &usage) == child) exited = true;
  }
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  while (!exited && ::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.peak_rss_kib = usage.ru_maxrss;
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

bool program_under_wine() {
  for (const std::string& word : command_from_environment("TRAILAVI_PROGRAM")) {
    if (word.find("wine") != std::string::npos) return true;
  }
  return false;
}

}  // namespace trailavi::test
