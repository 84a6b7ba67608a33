#include "workspace.hpp"

#include <filesystem>
#include <sys/stat.h>

namespace trailavi::test {

ProcessResult Workspace::run(const std::vector<std::string>& arguments,
                             const std::vector<std::string>& environment) const {
  std::vector<std::string> argv = program_command(TRAILAVI_PROGRAM_PATH);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run_process(argv, dir_.path(), environment);
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

std::map<std::string, std::string> Workspace::listing(const std::string& sub) const {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> out;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_.file(sub))) {
    std::string& kind = out[entry.path().filename().string()];
    switch (entry.symlink_status().type()) {
      case fs::file_type::regular: kind = "file"; break;
      case fs::file_type::symlink: kind = "link to " + fs::read_symlink(entry.path()).string(); break;
      case fs::file_type::fifo: kind = "fifo"; break;
      case fs::file_type::directory: kind = "folder"; break;
      default: kind = "other"; break;
    }
  }
  return out;
}

}  // namespace trailavi::test
