#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "platform/output_file.hpp"

namespace trailavi::platform {

// Where a chunk or list was opened: the file offset of its payload, which
// for a list starts with its type. Its size field is the 4 bytes before.
struct ChunkMark { std::uint64_t payload_offset; };

// Writes RIFF chunks, little-endian, through a buffer. begin_/end_chunk nest
// as the chunks do; end_chunk measures the payload, pads it to even and
// patches the size where it stands, in the buffer or in the file. A frame is
// referenced, not copied, and goes out after the buffer in one gathered
// write. The first failure (a write, a patch, the close, memory, or fail())
// is kept: every later step does nothing but close, and ok() answers false.
class RiffWriter {
 public:
  explicit RiffWriter(FileOperations& file) : file_(file) {}

  void fourcc(const char (&code)[5]) { if (std::uint8_t* out = extend(4)) std::memcpy(out, code, 4); }
  void u8(std::uint8_t value) { little_endian(value, 1); }
  void u16(std::uint16_t value) { little_endian(value, 2); }
  void u32(std::uint32_t value) { little_endian(value, 4); }
  void u64(std::uint64_t value) { little_endian(value, 8); }
  void zeros(std::size_t count) { if (std::uint8_t* out = extend(count)) std::memset(out, 0, count); }
  void copy(std::span<const std::uint8_t> data) {
    std::uint8_t* out = extend(data.size());
    if (out != nullptr && !data.empty()) std::memcpy(out, data.data(), data.size());
  }
  // Bytes that must stay where they are until the next flush, which sends
  // them after the buffer's own: the buffer's next byte flushes first.
  void external(std::span<const std::uint8_t> bytes) {
    if (!external_.empty()) flush();
    external_ = bytes;
  }

  [[nodiscard]] ChunkMark begin_chunk(const char (&code)[5]) {
    fourcc(code);
    u32(0);
    return {position()};
  }
  [[nodiscard]] ChunkMark begin_list(const char (&code)[5], const char (&type)[5]) {
    const ChunkMark mark = begin_chunk(code);
    fourcc(type);
    return mark;
  }
  // A size past 32 bits (a RIFF over 4 GiB) is a failure. A chunk closed
  // `as_junk` becomes JUNK of its size, all zeros, kept for a later rewrite.
  void end_chunk(ChunkMark mark, bool as_junk = false) {
    const std::uint64_t payload_bytes = position() - mark.payload_offset;
    if (payload_bytes > 0xFFFFFFFFu) fail();
    if (as_junk) make_junk(mark);
    patch_u32(mark.payload_offset - 4, static_cast<std::uint32_t>(payload_bytes));
    if ((payload_bytes & 1) != 0) u8(0);
  }

  // Sends the buffer to the file: at its end, or over earlier bytes while rewriting.
  void flush() {
    const std::uint64_t bytes = size();
    if (!failed_ && bytes > 0) {
      const ByteRange parts[] = {{bytes_.get(), size_}, {external_.data(), external_.size()}};
      failed_ = !(rewrite_at_ ? file_.write_at(*rewrite_at_, parts) : file_.append(parts));
      if (rewrite_at_) *rewrite_at_ += bytes;
    }
    size_ = 0;
    external_ = {};
  }
  // Entries that go out in runs need no buffer of their whole size.
  void flush_run(std::size_t run_bytes) { if (size() >= run_bytes) flush(); }
  // What follows is built over the file's bytes from `offset` up to `end`,
  // where the bytes it replaces ended; a rewrite of another length fails.
  void begin_rewrite(std::uint64_t offset) {
    flush();
    rewrite_at_ = offset;
  }
  void end_rewrite(std::uint64_t end) {
    if (position() != end) fail();
    flush();
    rewrite_at_.reset();
  }
  [[nodiscard]] bool close() {
    flush();
    failed_ = !file_.close() || failed_;
    return !failed_;
  }

  void fail() { failed_ = true; }
  [[nodiscard]] bool ok() const { return !failed_; }
  // The file offset of the next byte.
  [[nodiscard]] std::uint64_t position() const { return base() + size(); }

 private:
  [[nodiscard]] std::uint64_t base() const { return rewrite_at_ ? *rewrite_at_ : file_.end_offset(); }
  [[nodiscard]] std::uint64_t size() const { return size_ + external_.size(); }
  // The buffer's own byte at file offset `offset`: its own bytes come first.
  [[nodiscard]] std::uint8_t* own(std::uint64_t offset) { return bytes_.get() + (offset - base()); }
  static void store(std::uint8_t* out, std::uint64_t value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  void little_endian(std::uint64_t value, std::size_t count) {
    if (std::uint8_t* out = extend(count)) store(out, value, count);
  }
  // A flush sends the whole buffer, so a field lies all in the file or all in it.
  void patch_u32(std::uint64_t offset, std::uint32_t value) {
    if (failed_) return;
    if (offset >= base()) return store(own(offset), value, 4);
    std::uint8_t field[4];
    store(field, value, 4);
    const ByteRange range{field, 4};
    failed_ = !file_.write_at(offset, {&range, 1});
  }
  // The chunk must still lie in the buffer, among its own bytes.
  void make_junk(ChunkMark mark) {
    if (failed_ || mark.payload_offset - 8 < base() || !external_.empty()) return fail();
    std::memcpy(own(mark.payload_offset - 8), "JUNK", 4);
    std::memset(own(mark.payload_offset), 0, static_cast<std::size_t>(position() - mark.payload_offset));
  }

  // Room for `count` more bytes, or null when it cannot be had. Sizes are
  // reckoned in 64 bits, where they stay far below 2^63 (the buffer's largest
  // content is a header with a format below 2 GiB and a super index of at
  // most 1 MiB), and a size past what size_t holds is refused.
  std::uint8_t* extend(std::size_t count) {
    if (!external_.empty()) flush();
    if (failed_) return nullptr;
    if (count > capacity_ - size_) {
      const std::uint64_t capacity =
          std::max<std::uint64_t>({256, 2 * std::uint64_t{capacity_}, std::uint64_t{size_} + count});
      const auto bytes = static_cast<std::size_t>(capacity);
      std::unique_ptr<std::uint8_t[]> grown(capacity <= SIZE_MAX ? new (std::nothrow) std::uint8_t[bytes] : nullptr);
      if (!grown) {
        fail();
        return nullptr;
      }
      if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
      bytes_ = std::move(grown);
      capacity_ = bytes;
    }
    std::uint8_t* const out = bytes_.get() + size_;
    size_ += count;
    return out;
  }

  FileOperations& file_;
  std::optional<std::uint64_t> rewrite_at_;  // where the buffer goes while rewriting
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::span<const std::uint8_t> external_;  // goes out after the buffer's own bytes
  bool failed_ = false;
};

}  // namespace trailavi::platform
