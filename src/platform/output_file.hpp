#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "os/os.hpp"

namespace trailavi::platform {

using ByteRange = os::ByteRange;

// What the writer does to its file, each answering whether it succeeded:
// gathered appends, patches at earlier offsets, the close. OutputFile is the
// real file; a test may put operations that count and fail in its place.
class FileOperations {
 public:
  virtual ~FileOperations() = default;
  // Creates the file, or empties an existing one, for writing.
  [[nodiscard]] virtual bool create(const char* path) = 0;
  // Writes the ranges, in order, at the end of the file.
  [[nodiscard]] virtual bool append(std::span<const ByteRange> parts) = 0;
  // Writes the ranges, in order, from `offset`, which lies before the end.
  [[nodiscard]] virtual bool write_at(std::uint64_t offset, std::span<const ByteRange> parts) = 0;
  [[nodiscard]] virtual bool close() = 0;
  [[nodiscard]] virtual std::uint64_t end_offset() const = 0;
};

// The video file. A large append goes to the system in one call, without a
// copy; small ones are copied into a pending block that goes out whole with
// the next large append or when full, so that small frames do not cost a
// system call each, and the caller may change its buffer at once.
class OutputFile final : public FileOperations {
 public:
  OutputFile() = default;
  ~OutputFile() override;  // closes without reporting, for a file being abandoned
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  [[nodiscard]] bool create(const char* path) override;
  [[nodiscard]] bool append(std::span<const ByteRange> parts) override;
  [[nodiscard]] bool write_at(std::uint64_t offset, std::span<const ByteRange> parts) override;
  [[nodiscard]] bool close() override;
  [[nodiscard]] std::uint64_t end_offset() const override { return end_offset_; }

  static constexpr std::size_t kGatherBelowBytes = 64 * 1024;
  static constexpr std::size_t kPendingCapacityBytes = 1024 * 1024;

 private:
  [[nodiscard]] bool gather(std::span<const ByteRange> parts);
  [[nodiscard]] bool write_out(std::span<const ByteRange> parts);
  [[nodiscard]] bool flush_pending();

  std::unique_ptr<std::uint8_t[]> pending_;
  std::size_t pending_bytes_ = 0;
  int descriptor_ = -1;
  std::uint64_t end_offset_ = 0;
};

}  // namespace trailavi::platform
