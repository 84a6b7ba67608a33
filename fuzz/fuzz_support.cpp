#include "fuzz_support.hpp"

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace trailavi::fuzz {
namespace {

std::string scratch_dir;

void remove_scratch_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_dir, ignored);
}

bool takes_path(std::string_view arg, std::string_view& flag, std::string_view& path) {
  static constexpr std::string_view kPathFlags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                                    "-merge_control_file=", "-features_dir="};
  for (std::string_view known : kPathFlags) {
    if (arg.substr(0, known.size()) == known) {
      flag = known;
      path = arg.substr(known.size());
      return true;
    }
  }
  if (!arg.empty() && arg[0] != '-') {
    flag = {};
    path = arg;
    return true;
  }
  return false;
}

// TMPDIR when set; otherwise memory, where the system has a folder of it:
// every iteration rewrites its files, and a disk's file system may flush a
// file rewritten that way at its close, which costs more than the run.
std::string scratch_base() {
  if (const char* base = std::getenv("TMPDIR"); base != nullptr && *base != '\0') return base;
  if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  return "/tmp";
}

}  // namespace

void enter_scratch_dir(int* argc, char*** argv) {
  const std::string start = std::filesystem::current_path().string() + "/";
  // The rewritten arguments live as long as the process.
  static std::vector<std::string> storage;
  static std::vector<char*> pointers;
  bool has_artifact_prefix = false;
  storage.emplace_back((*argv)[0]);
  for (int i = 1; i < *argc; ++i) {
    std::string_view arg = (*argv)[i];
    std::string_view flag;
    std::string_view path;
    if (takes_path(arg, flag, path) && !path.empty() && path[0] != '/') {
      storage.push_back(std::string(flag) + start + std::string(path));
    } else {
      storage.emplace_back(arg);
    }
    has_artifact_prefix = has_artifact_prefix || arg.substr(0, 17) == "-artifact_prefix=";
  }
  if (!has_artifact_prefix) storage.push_back("-artifact_prefix=" + start);
  for (std::string& arg : storage) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(storage.size());
  *argv = pointers.data();

  std::string pattern = scratch_base() + "/trailavi-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a scratch folder from %s\n", pattern.c_str());
  scratch_dir = pattern;
  std::atexit(remove_scratch_dir);
  if (::chdir(scratch_dir.c_str()) != 0) fail("cannot enter %s\n", scratch_dir.c_str());
}

namespace {

// The message goes out before the abort, which is what libFuzzer reports.
[[noreturn]] void abort_after(const char* format, std::va_list arguments) {
  std::vfprintf(stderr, format, arguments);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

void fail(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  abort_after(format, arguments);
}

void check_failed(const char* condition, const char* format, ...) {
  std::fprintf(stderr, "check failed: %s\n", condition);
  std::va_list arguments;
  va_start(arguments, format);
  abort_after(format, arguments);
}

void write_file(const char* path, std::string_view bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) fail("cannot create %s\n", path);
  const bool written = bytes.empty() || std::fwrite(bytes.data(), bytes.size(), 1, file) == 1;
  if (std::fclose(file) != 0 || !written) fail("cannot write %s\n", path);
}

bool file_exists(const char* path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

void remove_file(const char* path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

CapturedOutput::CapturedOutput() : stream_(open_memstream(&buffer_, &size_)) {
  if (stream_ == nullptr) fail("open_memstream failed\n");
}

CapturedOutput::~CapturedOutput() {
  if (stream_ != nullptr) std::fclose(stream_);
  std::free(buffer_);
}

std::string CapturedOutput::text() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  return std::string(buffer_ != nullptr ? buffer_ : "", size_);
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) fail("report line without its line end: %s\n", text.c_str() + start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace trailavi::fuzz
