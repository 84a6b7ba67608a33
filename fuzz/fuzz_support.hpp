#pragma once

// What the fuzz targets share: a scratch folder to work in, files written
// and read whole, the report captured as text, a reader of the fuzzer's
// bytes, and a check that stops the fuzzer with a message on a mismatch.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace trailavi::fuzz {

// Makes a fresh scratch folder (in TMPDIR, or else /dev/shm or /tmp),
// removed at exit, the current directory, since
// the run reads and writes its files there. libFuzzer reads its paths after
// this, so relative ones in argv (corpus folders, inputs, artifact prefix)
// are made absolute first; crash files go to the starting folder unless an
// artifact prefix says otherwise. Call from LLVMFuzzerInitialize.
void enter_scratch_dir(int* argc, char*** argv);

// Prints the message to standard error and aborts, which libFuzzer takes
// for a crash: it saves the input and the run fails.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void check_failed(const char* condition, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// FUZZ_CHECK(condition) or FUZZ_CHECK(condition, "format", values...).
#define FUZZ_CHECK(condition, ...)                                                  \
  do {                                                                              \
    if (!(condition)) ::trailavi::fuzz::check_failed(#condition, "" __VA_ARGS__); \
  } while (0)

void write_file(const char* path, std::string_view bytes);
[[nodiscard]] bool file_exists(const char* path);
void remove_file(const char* path);

// A memory stream for the report; text() closes it and returns what it got.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  [[nodiscard]] std::FILE* stream() const { return stream_; }
  std::string text();

 private:
  std::FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
};

std::vector<std::string> split_lines(const std::string& text);

// Takes the fuzzer's bytes front to back; past the end every value is 0.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t u8() { return offset_ < size_ ? data_[offset_++] : 0; }
  std::uint16_t u16() {
    const std::uint16_t low = u8();
    return static_cast<std::uint16_t>(low | u8() << 8);
  }
  std::string_view bytes(std::size_t count) {
    count = std::min(count, size_ - offset_);
    const std::string_view out(reinterpret_cast<const char*>(data_) + offset_, count);
    offset_ += count;
    return out;
  }
  std::string_view rest() { return bytes(size_ - offset_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace trailavi::fuzz
