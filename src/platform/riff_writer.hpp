#pragma once

#include <algorithm>
#include <cstddef>
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
struct ChunkMark {
  std::uint64_t payload_offset;
};

// Writes RIFF chunks, little-endian, to a file through a buffer. Chunks and
// lists are opened and closed through it, so the nesting of begin_/end_chunk
// calls mirrors the nesting of the chunks; end_chunk measures the payload,
// pads it to an even size and patches its size field where it stands: in
// the buffer while it is still there, otherwise in the file.
//
// Bytes the caller keeps (a frame, the stream format) are referenced, not
// copied, and go to the file in one gathered write with the buffer's own.
//
// The first failure is kept: a write, a patch or the close that failed, no
// memory for the buffer, or a failure its user reports through fail().
// Every later step then does nothing but close, and ok() answers false.
class RiffWriter {
 public:
  explicit RiffWriter(FileOperations& file) : file_(file) {}

  void fourcc(const char (&code)[5]) {
    if (std::uint8_t* out = extend(4)) std::memcpy(out, code, 4);
  }
  void u8(std::uint8_t value) { little_endian(value, 1); }
  void u16(std::uint16_t value) { little_endian(value, 2); }
  void u32(std::uint32_t value) { little_endian(value, 4); }
  void u64(std::uint64_t value) { little_endian(value, 8); }
  void zeros(std::size_t count) {
    if (std::uint8_t* out = extend(count)) std::memset(out, 0, count);
  }
  // Bytes that stay where they are until the next flush.
  void external(std::span<const std::uint8_t> bytes) {
    if (external_count_ == kMaxExternal) flush();
    external_at_[external_count_] = size_;
    externals_[external_count_++] = bytes;
    external_bytes_ += bytes.size();
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
  // Closes the chunk or list opened at `mark`. A size past 32 bits (a RIFF
  // over 4 GiB) is a failure. A chunk closed `as_junk` becomes JUNK of the
  // same size, all zeros: room kept for what a later rewrite puts there.
  void end_chunk(ChunkMark mark, bool as_junk = false) {
    const std::uint64_t payload_bytes = position() - mark.payload_offset;
    if (payload_bytes > 0xFFFFFFFFu) fail();
    if (as_junk) make_junk(mark);
    patch_u32(mark.payload_offset - 4, static_cast<std::uint32_t>(payload_bytes));
    if ((payload_bytes & 1) != 0) u8(0);
  }

  // Sends what the buffer holds to the file: at its end, or over the
  // earlier bytes while rewriting.
  void flush() {
    const std::uint64_t bytes = size();
    if (!failed_ && bytes > 0) {
      ByteRange parts[kMaxRanges];
      const std::span<const ByteRange> ranges(parts, gather(parts));
      failed_ = !(rewrite_at_ ? file_.write_at(*rewrite_at_, ranges) : file_.append(ranges));
      if (rewrite_at_) *rewrite_at_ += bytes;
    }
    size_ = 0;
    external_count_ = 0;
    external_bytes_ = 0;
  }
  // Flushes once the buffer holds `run_bytes`: entries that go out in runs
  // need no buffer of their whole size.
  void flush_run(std::size_t run_bytes) {
    if (size() >= run_bytes) flush();
  }
  // What follows is built over the file's bytes from `offset` on...
  void begin_rewrite(std::uint64_t offset) {
    flush();
    rewrite_at_ = offset;
  }
  // ...up to `end`, where the bytes it replaces ended: a rewrite that came
  // out longer or shorter would leave them torn, and fails instead.
  void end_rewrite(std::uint64_t end) {
    if (position() != end) fail();
    flush();
    rewrite_at_.reset();
  }
  // Flushes and closes the file; true when every step succeeded.
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
  // At most the format and a frame go out in one write.
  static constexpr std::size_t kMaxExternal = 2;
  static constexpr std::size_t kMaxRanges = 2 * kMaxExternal + 1;

  [[nodiscard]] std::uint64_t base() const { return rewrite_at_ ? *rewrite_at_ : file_.end_offset(); }
  [[nodiscard]] std::uint64_t size() const { return size_ + external_bytes_; }

  // The buffer's bytes in file order, as ranges for one gathered write;
  // returns how many of `out` it filled.
  std::size_t gather(ByteRange (&out)[kMaxRanges]) const {
    std::size_t count = 0;
    std::size_t from = 0;
    const auto add = [&](const void* data, std::size_t bytes) {
      if (bytes > 0) out[count++] = {data, bytes};
    };
    for (std::size_t i = 0; i < external_count_; ++i) {
      add(bytes_.get() + from, external_at_[i] - from);
      add(externals_[i].data(), externals_[i].size());
      from = external_at_[i];
    }
    add(bytes_.get() + from, size_ - from);
    return count;
  }
  // Where the byte at file offset `offset`, one of the buffer's own, lies
  // among them: the referenced ranges before it take no room there.
  [[nodiscard]] std::size_t own_index(std::uint64_t offset) const {
    std::uint64_t index = offset - base();
    for (std::size_t i = 0; i < external_count_ && index >= external_at_[i]; ++i) index -= externals_[i].size();
    return static_cast<std::size_t>(index);
  }

  static void store_little_endian(std::uint8_t* out, std::uint64_t value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  void little_endian(std::uint64_t value, std::size_t count) {
    if (std::uint8_t* out = extend(count)) store_little_endian(out, value, count);
  }
  // A size field still in the buffer is patched there; one already sent,
  // in the file, where all 4 bytes lie since a flush sends the whole buffer.
  void patch_u32(std::uint64_t offset, std::uint32_t value) {
    if (failed_) return;
    if (offset >= base()) return store_little_endian(bytes_.get() + own_index(offset), value, 4);
    std::uint8_t field[4];
    store_little_endian(field, value, 4);
    const ByteRange range{field, 4};
    failed_ = !file_.write_at(offset, {&range, 1});
  }
  // The chunk's header and payload must still be in the buffer, among its
  // own bytes, to be turned into JUNK.
  void make_junk(ChunkMark mark) {
    const std::uint64_t header = mark.payload_offset - 8;
    if (failed_ || header < base() || own_index(mark.payload_offset) + (position() - mark.payload_offset) != size_) {
      return fail();
    }
    std::memcpy(bytes_.get() + own_index(header), "JUNK", 4);
    std::memset(bytes_.get() + own_index(mark.payload_offset), 0, size_ - own_index(mark.payload_offset));
  }

  // Room for `count` more bytes, or null when it cannot be had. The buffer
  // stays far below SIZE_MAX / 2 (its largest content is a header with a
  // super index of at most 1 MiB, or a run of index entries), so the
  // doubling cannot overflow.
  std::uint8_t* extend(std::size_t count) {
    if (failed_) return nullptr;
    if (count > capacity_ - size_) {
      const std::size_t capacity = std::max(std::max<std::size_t>(256, 2 * capacity_), size_ + count);
      std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow) std::uint8_t[capacity]);
      if (!grown) {
        fail();
        return nullptr;
      }
      if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
      bytes_ = std::move(grown);
      capacity_ = capacity;
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
  std::span<const std::uint8_t> externals_[kMaxExternal];
  std::size_t external_at_[kMaxExternal] = {};  // where each goes among the buffer's own bytes
  std::size_t external_count_ = 0;
  std::uint64_t external_bytes_ = 0;
  bool failed_ = false;
};

}  // namespace trailavi::platform
