#include "workspace.hpp"

#include <sys/stat.h>

namespace trailavi::test {

ProcessResult Workspace::run(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = program_command(TRAILAVI_PROGRAM_PATH);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run_process(argv, dir_.path());
}

bool Workspace::exists(const std::string& name) const {
  struct stat info {};
  return ::lstat(dir_.file(name).c_str(), &info) == 0;
}

std::map<std::string, Workspace::FileState> Workspace::snapshot(const std::vector<std::string>& names) const {
  std::map<std::string, FileState> out;
  for (const std::string& name : names) {
    struct stat info {};
    if (::stat(dir_.file(name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    FileState& state = out[name];
    // Large files are compared by size and time alone.
    if (info.st_size < (1 << 26)) state.bytes = read_file(dir_.file(name));
    state.modified_ns = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    state.mode = info.st_mode;
  }
  return out;
}

}  // namespace trailavi::test
