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

std::map<std::string, std::vector<std::uint8_t>> Workspace::snapshot(const std::vector<std::string>& names) const {
  std::map<std::string, std::vector<std::uint8_t>> out;
  for (const std::string& name : names) {
    struct stat info {};
    if (::stat(dir_.file(name).c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size < (1 << 26)) {
      out[name] = read_file(dir_.file(name));
    }
  }
  return out;
}

}  // namespace trailavi::test
