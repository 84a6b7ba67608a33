#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/avi_layout.hpp"
#include "platform/riff_writer.hpp"

namespace trailavi::platform {

inline constexpr std::uint64_t kDefaultRiffLimitBytes = std::uint64_t{1} << 30;
// The most frames a segment holds, whatever its size: its index is kept in
// memory at 8 bytes a frame, at most 8 MiB. Tiny frames go on in new segments.
inline constexpr std::uint64_t kMaxSegmentFrames = std::uint64_t{1} << 20;

// What the file states of its stream, in the stream and main headers.
struct StreamDescription {
  std::uint32_t fcc_type = 0, fcc_handler = 0, flags = 0;
  std::uint16_t priority = 0, language = 0;
  std::uint32_t initial_frames = 0, scale = 0, rate = 0, start = 0;  // the frame rate is rate / scale
  std::uint32_t declared_frames = 0;  // sizes the super index; the file states the frames stored
  std::uint32_t suggested_buffer_bytes = 0, quality = 0, sample_bytes = 0;
  // The picture's rectangle; the stream header keeps each value's low 16 bits.
  std::int32_t frame_left = 0, frame_top = 0, frame_right = 0, frame_bottom = 0;
};

// Writes one video stream as an AVI file: within one RIFF of at most the
// limit, plain AVI 1.0 (RIFF 'AVI ' with hdrl, movi and idx1); longer, on in
// RIFF 'AVIX' segments (OpenDML), each movi ending with an ix00 index, and the
// header's reserved JUNK becoming the indx super index and odml/dmlh list.
//
// The header goes out with the first frame, and its hdrl is built again with
// the final counters at the finish. Only the current segment's index is kept,
// at most kMaxSegmentFrames entries, so memory stays bounded. Every failure
// (of the file, of memory, a full super index, a frame too large, a RIFF over
// 4 GiB) is kept in the RiffWriter's one latch.
class AviWriter {
 public:
  // `file` (null: a file of its own) receives every operation on the file.
  AviWriter(std::uint64_t riff_limit_bytes, FileOperations* file)
      : file_(file != nullptr ? *file : own_file_), riff_(file_), riff_limit_bytes_(riff_limit_bytes) {}

  [[nodiscard]] bool create(const char* path) { return file_.create(path); }
  void set_stream(const StreamDescription& stream) { stream_ = stream; }
  // Before the first frame only. False when the format cannot be stored.
  [[nodiscard]] bool set_format(std::span<const std::uint8_t> format);
  // False when the frame could not be stored.
  [[nodiscard]] bool write_frame(std::span<const std::uint8_t> frame, bool key_frame);
  // Completes and closes the file. False when anything failed on the way.
  [[nodiscard]] bool finish();

  [[nodiscard]] bool started() const { return total_frames_ > 0; }
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
    void for_each(Visit&& visit) const {
      for (std::size_t i = 0; i < size_; ++i) visit(blocks_[i / kBlockEntries][i % kBlockEntries]);
    }

   private:
    std::unique_ptr<FrameEntry[]> blocks_[kMaxBlocks];
    std::size_t size_ = 0;
  };
  struct Segment {
    ChunkMark riff{};
    ChunkMark movi{};  // its payload offset is the 'movi' FOURCC's, which index offsets count from
    FrameIndex frames;
  };

  void store_frame(std::span<const std::uint8_t> frame, bool key_frame);
  void lead_in(std::uint64_t chunk_bytes);
  void plan_segments(std::uint64_t chunk_bytes);
  [[nodiscard]] bool fits_current_segment(std::uint64_t chunk_bytes) const;
  void start_file();
  void open_segment();
  void close_segment(bool has_successor);
  void emit_standard_index();
  void emit_old_index();
  void build_hdrl();
  void build_main_header();
  void build_stream_header();
  void build_super_index();
  [[nodiscard]] bool first_segment() const { return segment_.riff.payload_offset == avi_layout::kChunkHeaderBytes; }
  [[nodiscard]] bool multi_segment() const { return super_index_size_ > 0; }

  OutputFile own_file_;
  FileOperations& file_;
  RiffWriter riff_;
  std::uint64_t riff_limit_bytes_;
  StreamDescription stream_;
  std::unique_ptr<std::uint8_t[]> format_;
  std::size_t format_bytes_ = 0;

  std::uint64_t hdrl_offset_ = 0;  // the hdrl list, which the final rewrite builds again
  std::uint64_t hdrl_end_ = 0;
  std::uint32_t super_index_capacity_ = 0;
  std::uint64_t frames_per_segment_ = 0;
  Segment segment_;
  std::unique_ptr<SuperIndexEntry[]> super_index_;  // super_index_capacity_ entries, once a segment is closed
  std::uint32_t super_index_size_ = 0;
  std::uint32_t total_frames_ = 0;
  std::uint32_t first_riff_frames_ = 0;
  std::uint32_t largest_frame_bytes_ = 0;
};

}  // namespace trailavi::platform
