#pragma once

// The video file's operations for the test driver and the whole-run fuzz
// target: the real file's, counted, with the n-th of one kind (from 0) made
// to fail. A patch counts as a seek and a write, an append as one write,
// whatever the system calls beneath them. A lost write is a write, counted
// as writes are, that reports success having written nothing, as the
// platform library's do on a full disk. Header-only, so that both can
// include it without a library of their own.

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <span>

#include "platform/output_file.hpp"

namespace trailavi::test {

class FaultInjectingFile final : public platform::FileOperations {
 public:
  enum class Operation { create, write, seek, close, lose };
  static constexpr const char* kOperationNames[] = {"create", "write", "seek", "close", "lose"};
  static constexpr int kOperations = 5;

  // False for a name that is none of kOperationNames.
  static bool parse(const char* name, Operation& operation) {
    for (int i = 0; i < kOperations; ++i) {
      if (std::strcmp(name, kOperationNames[i]) == 0) {
        operation = static_cast<Operation>(i);
        return true;
      }
    }
    return false;
  }

  void fail_at(Operation operation, std::uint64_t index) { counter(operation).fail_index = index; }
  [[nodiscard]] std::uint64_t performed(Operation operation) { return counter(operation).performed; }
  // Called on each creation of the file, before it is attempted.
  std::function<void()> before_create;

  [[nodiscard]] bool create(const char* path) override {
    if (before_create) before_create();
    return !injected(Operation::create) && file_.create(path);
  }
  [[nodiscard]] bool append(std::span<const platform::ByteRange> parts) override {
    return !injected(Operation::write) && (injected(Operation::lose) || file_.append(parts));
  }
  [[nodiscard]] bool write_at(std::uint64_t offset, std::span<const platform::ByteRange> parts) override {
    return !injected(Operation::seek) && !injected(Operation::write) &&
           (injected(Operation::lose) || file_.write_at(offset, parts));
  }
  // The file is closed before a failure is made up, so no descriptor stays open.
  [[nodiscard]] bool close() override {
    const bool closed = file_.close();
    return !injected(Operation::close) && closed;
  }
  [[nodiscard]] std::uint64_t end_offset() const override { return file_.end_offset(); }

 private:
  struct Counter {
    std::uint64_t performed = 0;
    std::uint64_t fail_index = std::numeric_limits<std::uint64_t>::max();
  };

  Counter& counter(Operation operation) { return counters_[static_cast<int>(operation)]; }
  // Counts one operation and says whether the test asked for it to fail.
  bool injected(Operation operation) {
    Counter& c = counter(operation);
    return c.performed++ == c.fail_index;
  }

  platform::OutputFile file_;
  Counter counters_[kOperations];
};

}  // namespace trailavi::test
