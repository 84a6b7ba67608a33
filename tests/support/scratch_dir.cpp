#include "scratch_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace trailavi::test {

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/trailavi-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Permissions a test took away are given back so that removal succeeds.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

CurrentDir::CurrentDir(const std::string& dir) : previous_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir);
}

CurrentDir::~CurrentDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

}  // namespace trailavi::test
