#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/chunk_buffer.hpp"
#include "platform/output_file.hpp"

namespace trailavi::platform {

inline constexpr std::uint64_t kDefaultRiffLimitBytes = std::uint64_t{1} << 30;
// The most frames a segment holds, whatever its size: the segment's index is
// kept in memory at 8 bytes a frame, so this bounds it at 8 MiB. Tiny frames
// thus go on in new segments long before a segment reaches the RIFF limit.
inline constexpr std::uint64_t kMaxSegmentFrames = std::uint64_t{1} << 20;

// What the file states of its stream, in the stream and main headers.
struct StreamDescription {
  std::uint32_t fcc_type = 0;
  std::uint32_t fcc_handler = 0;
  std::uint32_t flags = 0;
  std::uint16_t priority = 0;
  std::uint16_t language = 0;
  std::uint32_t initial_frames = 0;
  std::uint32_t scale = 0;  // the frame rate is rate / scale
  std::uint32_t rate = 0;
  std::uint32_t start = 0;
  std::uint32_t declared_frames = 0;  // sizes the super index; the file states the frames stored
  std::uint32_t suggested_buffer_bytes = 0;
  std::uint32_t quality = 0;
  std::uint32_t sample_bytes = 0;
  // The picture's rectangle; the stream header keeps each value's low 16 bits.
  std::int32_t frame_left = 0;
  std::int32_t frame_top = 0;
  std::int32_t frame_right = 0;
  std::int32_t frame_bottom = 0;
};

// Writes one video stream as an AVI file. A video that fits one RIFF of at
// most the limit is a plain AVI 1.0 file: RIFF 'AVI ' with hdrl, movi and
// idx1. A longer one continues in RIFF 'AVIX' segments (OpenDML): every
// segment's movi then ends with an ix00 standard index, and the header's
// reserved JUNK becomes the indx super index and the odml/dmlh list.
//
// Nothing is written before the first frame; the header goes out with it and
// is rewritten with its final counters when the file is finished. The index
// of the current segment is all that is kept per frame, and a segment holds
// at most kMaxSegmentFrames, so memory stays bounded whatever the frame count.
// No allocation throws: one that fails makes the call that needed it fail.
class AviWriter {
 public:
  // `file` (null: a file of its own) receives every operation on the file.
  AviWriter(std::uint64_t riff_limit_bytes, FileOperations* file)
      : file_(file != nullptr ? *file : own_file_), riff_limit_bytes_(riff_limit_bytes) {}

  [[nodiscard]] bool create(const char* path) { return file_.create(path); }
  void set_stream(const StreamDescription& stream) { stream_ = stream; }
  // Before the first frame only. False when the format cannot be stored.
  [[nodiscard]] bool set_format(std::span<const std::uint8_t> format);
  // False when the frame could not be stored; after that, every call fails.
  [[nodiscard]] bool write_frame(std::span<const std::uint8_t> frame, bool key_frame);
  // Completes and closes the file. False when anything failed on the way.
  [[nodiscard]] bool finish();

  [[nodiscard]] bool started() const { return header_written_; }
  [[nodiscard]] std::uint32_t frames_written() const { return total_frames_; }

 private:
  // Where each frame chunk lies in its segment, and whether it is a key frame.
  struct FrameEntry {
    std::uint32_t offset_from_movi;  // chunk header position minus the 'movi' FOURCC position
    std::uint32_t size_bytes;        // payload size, bit 31 set for a frame that is not a key frame
  };
  struct SuperIndexEntry {
    std::uint64_t index_offset;  // the ix00 chunk header's position
    std::uint32_t index_bytes;   // the whole ix00 chunk, header included
    std::uint32_t frame_count;
  };
  // The current segment's frame entries, in blocks that are never moved, so
  // growing the index costs no copy and no more memory than its entries.
  class FrameIndex {
   public:
    static constexpr std::size_t kBlockEntries = 65536;
    static constexpr std::size_t kMaxBlocks = kMaxSegmentFrames / kBlockEntries;
    static_assert(kMaxBlocks * kBlockEntries == kMaxSegmentFrames);
    [[nodiscard]] std::size_t size() const { return size_; }
    void clear() { size_ = 0; }  // keeps the blocks for the next segment
    // False when the entry cannot be stored: no memory for a new block, or
    // kMaxSegmentFrames entries already.
    [[nodiscard]] bool push_back(const FrameEntry& entry);
    template <typename Visit>
    [[nodiscard]] bool for_each(Visit&& visit) const {
      for (std::size_t i = 0; i < size_; ++i) {
        if (!visit(blocks_[i / kBlockEntries][i % kBlockEntries])) return false;
      }
      return true;
    }

   private:
    std::unique_ptr<FrameEntry[]> blocks_[kMaxBlocks];
    std::size_t size_ = 0;
  };
  struct Segment {
    std::uint64_t riff_offset = 0;
    std::uint64_t movi_fourcc_offset = 0;
    FrameIndex frames;
  };

  [[nodiscard]] bool store_frame(std::span<const std::uint8_t> frame, bool key_frame);
  [[nodiscard]] bool lead_in(std::uint64_t chunk_bytes);
  [[nodiscard]] bool plan_segments(std::uint64_t chunk_bytes);
  [[nodiscard]] bool fits_current_segment(std::uint64_t chunk_bytes) const;
  [[nodiscard]] bool open_segment();
  [[nodiscard]] bool close_segment(bool has_successor);
  [[nodiscard]] bool append_standard_index();
  [[nodiscard]] bool append_old_index();
  [[nodiscard]] bool append_run(std::size_t run_bytes);
  [[nodiscard]] bool send(std::optional<std::uint64_t> offset);
  void start_header();
  [[nodiscard]] bool write_header_alone();
  [[nodiscard]] bool rewrite_header();
  ChunkMark build_header(ChunkBuffer& out) const;
  void build_main_header(ChunkBuffer& out) const;
  void build_stream_header(ChunkBuffer& out) const;
  void build_super_index(ChunkBuffer& out) const;
  void build_odml(ChunkBuffer& out) const;
  static ChunkMark build_segment_start(ChunkBuffer& out, std::uint32_t riff_bytes, std::uint32_t movi_bytes);
  [[nodiscard]] bool multi_segment() const { return super_index_size_ > 0; }

  OutputFile own_file_;
  FileOperations& file_;
  std::uint64_t riff_limit_bytes_;
  StreamDescription stream_;
  std::unique_ptr<std::uint8_t[]> format_;
  std::size_t format_bytes_ = 0;

  bool header_written_ = false;
  std::uint32_t super_index_capacity_ = 0;
  std::uint64_t frames_per_segment_ = 0;
  Segment segment_;
  std::unique_ptr<SuperIndexEntry[]> super_index_;  // super_index_capacity_ entries, once a segment is closed
  std::uint32_t super_index_size_ = 0;
  std::uint32_t total_frames_ = 0;
  std::uint32_t first_riff_frames_ = 0;
  std::uint32_t first_riff_bytes_ = 0;  // RIFF size field: everything after it
  std::uint32_t first_movi_bytes_ = 0;  // movi LIST size field
  std::uint32_t largest_frame_bytes_ = 0;
  std::uint64_t header_bytes_ = 0;  // from the start of the file to the first frame chunk
  ChunkBuffer out_;  // what goes to the file next; keeps its storage between writes
  bool failed_ = false;
};

}  // namespace trailavi::platform
