#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace trailavi::platform {

struct ByteRange {
  const void* data;
  std::size_t size;
};

// The video file at the operating-system level: appends gathered from
// several ranges in one write, patches at earlier offsets, and the first
// error latched, so every later call fails at once and the caller can report
// it once at the end.
//
// A large append goes to the system as it is, in one call, without a copy.
// Small appends are copied into a pending block that goes out whole, with
// the next large append or when full, so that small frames do not cost a
// system call each; their bytes are taken at once, so the caller may change
// its buffer as soon as append returns.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // closes without reporting, for a file being abandoned
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file, or empties an existing one, for writing.
  [[nodiscard]] bool create(const char* path);
  // Writes the ranges, in order, at the end of the file.
  [[nodiscard]] bool append(std::span<const ByteRange> parts);
  // Writes the ranges, in order, from `offset`, which lies before the end.
  [[nodiscard]] bool write_at(std::uint64_t offset, std::span<const ByteRange> parts);
  [[nodiscard]] bool close();

  [[nodiscard]] std::uint64_t end_offset() const { return end_offset_; }
  [[nodiscard]] bool failed() const { return failed_; }

  static constexpr std::size_t kGatherBelowBytes = 64 * 1024;
  static constexpr std::size_t kPendingCapacityBytes = 1024 * 1024;

 private:
  bool fail();
  [[nodiscard]] bool gather(std::span<const ByteRange> parts);
  [[nodiscard]] bool write_out(std::span<const ByteRange> parts);
  [[nodiscard]] bool flush_pending();

  std::unique_ptr<std::uint8_t[]> pending_;
  std::size_t pending_bytes_ = 0;
  int descriptor_ = -1;
  std::uint64_t end_offset_ = 0;
  bool failed_ = false;
};

// A test-only seam: makes the n-th creation, write, seek or close of the
// output file fail, counting from 0 since the last reset. A patch counts as a seek and a
// write, an append as one write, whatever the system calls beneath them.
namespace fault_injection {
enum class Operation { create, write, seek, close };
void fail_at(Operation operation, std::uint64_t index);
void reset();
[[nodiscard]] std::uint64_t performed(Operation operation);
}  // namespace fault_injection

}  // namespace trailavi::platform
