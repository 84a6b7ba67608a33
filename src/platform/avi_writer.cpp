#include "platform/avi_writer.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/int32_wrap.hpp"

namespace trailavi::platform {
namespace {

using avi_layout::kChunkHeaderBytes;

// One super index entry per segment; the floor covers about 256 GiB of 1 GiB
// segments, the ceiling keeps the reserved header space at 1 MiB.
constexpr std::uint64_t kSuperIndexFloor = 256;
constexpr std::uint64_t kSuperIndexCeiling = 65536;
// Segments of tiny frames end at the frame cap, not the size limit; the
// ceiling still gives any 32-bit frame count a super index entry per segment.
static_assert(kSuperIndexCeiling * kMaxSegmentFrames >= (std::uint64_t{1} << 32));
constexpr int kPlanRounds = 8;  // rounds of settling the super index's capacity before taking the ceiling

constexpr std::uint32_t AVIF_HASINDEX = 0x10;   // avih dwFlags: the file has idx1
constexpr std::uint32_t AVIIF_KEYFRAME = 0x10;  // idx1 dwFlags: a key frame
constexpr std::uint32_t kNotKeyFrameBit = 0x80000000u;

constexpr std::size_t kIndexRunBytes = 64 * 1024;  // index entries go out in runs of this many bytes

}  // namespace

bool AviWriter::FrameIndex::push_back(const FrameEntry& entry) {
  const std::size_t block = size_ / kBlockEntries;
  if (block == kMaxBlocks) return false;
  if (!blocks_[block]) blocks_[block].reset(new (std::nothrow) FrameEntry[kBlockEntries]);
  if (!blocks_[block]) return false;
  blocks_[block][size_++ % kBlockEntries] = entry;
  return true;
}

bool AviWriter::set_format(std::span<const std::uint8_t> format) {
  std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[format.size()]);
  if (!copy) return false;
  if (!format.empty()) std::memcpy(copy.get(), format.data(), format.size());
  format_ = std::move(copy);
  format_bytes_ = format.size();
  return true;
}

bool AviWriter::write_frame(std::span<const std::uint8_t> frame, bool key_frame) {
  if (riff_.ok()) store_frame(frame, key_frame);
  return riff_.ok();
}

// The frame chunk goes out in one write with what must precede it, the frame
// referenced where it lies; then its index entry is recorded. A segment's
// offsets fit 32 bits in a file that completes: end_chunk fails a RIFF over
// 4 GiB.
void AviWriter::store_frame(std::span<const std::uint8_t> frame, bool key_frame) {
  if (frame.size() >= kNotKeyFrameBit || total_frames_ == 0xFFFFFFFFu) return riff_.fail();
  const auto size_bytes = static_cast<std::uint32_t>(frame.size());
  largest_frame_bytes_ = std::max(largest_frame_bytes_, size_bytes);
  lead_in(avi_layout::chunk_bytes(size_bytes));
  const ChunkMark chunk = riff_.begin_chunk("00db");
  riff_.external(frame);
  riff_.end_chunk(chunk);
  riff_.flush();
  if (!riff_.ok()) return;
  const std::uint64_t offset_from_movi = chunk.payload_offset - kChunkHeaderBytes - segment_.movi.payload_offset;
  const FrameEntry entry{static_cast<std::uint32_t>(offset_from_movi), size_bytes | (key_frame ? 0u : kNotKeyFrameBit)};
  if (!segment_.frames.push_back(entry)) return riff_.fail();
  ++total_frames_;
}

// Builds what precedes a frame chunk in the same write: the file's header
// before the first frame, a new segment when the current one is full.
void AviWriter::lead_in(std::uint64_t chunk_bytes) {
  if (total_frames_ == 0) {
    plan_segments(chunk_bytes);
    start_file();
  } else if (segment_.frames.size() >= frames_per_segment_ || !fits_current_segment(chunk_bytes)) {
    close_segment(true);
    open_segment();
  }
}

// Fixes, once, how many frames each segment holds: as many as the first
// RIFF holds beside the header and both indexes, so every standard index but
// the last has the same count. The super index, sized from the declared
// length, lengthens the header, which can lower the count, so the two are
// settled together: the capacity only grows, a round that does not grow it
// ends, and after kPlanRounds the ceiling is taken. At least 1 frame fits,
// so the division is safe.
void AviWriter::plan_segments(std::uint64_t chunk_bytes) {
  const std::uint64_t per_frame =
      chunk_bytes + avi_layout::kOldIndexEntryBytes + avi_layout::kStandardIndexEntryBytes;
  super_index_capacity_ = static_cast<std::uint32_t>(kSuperIndexFloor);
  for (int round = 0;; ++round) {
    const std::uint64_t fixed = avi_layout::header_bytes(format_bytes_, super_index_capacity_) +
                                avi_layout::old_index_bytes(0) + avi_layout::standard_index_bytes(0);
    const std::uint64_t fitting =
        riff_limit_bytes_ > fixed ? std::max<std::uint64_t>(1, (riff_limit_bytes_ - fixed) / per_frame) : 1;
    frames_per_segment_ = std::min(fitting, kMaxSegmentFrames);
    const std::uint64_t needed = (stream_.declared_frames + frames_per_segment_ - 1) / frames_per_segment_;
    const std::uint64_t capacity = std::clamp(needed, kSuperIndexFloor, kSuperIndexCeiling);
    if (capacity <= super_index_capacity_) return;
    super_index_capacity_ = static_cast<std::uint32_t>(round + 1 < kPlanRounds ? capacity : kSuperIndexCeiling);
  }
}

// Whether one more frame chunk and the indexes the segment then ends with
// stay within the limit.
bool AviWriter::fits_current_segment(std::uint64_t chunk_bytes) const {
  const std::uint64_t frames = segment_.frames.size() + 1;
  std::uint64_t index_bytes = avi_layout::standard_index_bytes(frames);
  if (first_segment()) index_bytes += avi_layout::old_index_bytes(frames);
  const std::uint64_t used = riff_.position() - (segment_.riff.payload_offset - kChunkHeaderBytes);
  return used + chunk_bytes + index_bytes <= riff_limit_bytes_;
}

// The file's header as it first goes out: the counters 0, the OpenDML
// chunks JUNK, and the RIFF and movi lists open until the first segment
// ends. Its length must be the one the plan reckoned with.
void AviWriter::start_file() {
  segment_.riff = riff_.begin_list("RIFF", "AVI ");
  hdrl_offset_ = riff_.position();
  build_hdrl();
  hdrl_end_ = riff_.position();
  segment_.movi = riff_.begin_list("LIST", "movi");
  if (riff_.position() != avi_layout::header_bytes(format_bytes_, super_index_capacity_)) riff_.fail();
}

void AviWriter::open_segment() {
  // The segment being opened needs a super index entry of its own.
  if (super_index_size_ >= super_index_capacity_) return riff_.fail();
  segment_.riff = riff_.begin_list("RIFF", "AVIX");
  segment_.movi = riff_.begin_list("LIST", "movi");
  segment_.frames.clear();
}

// The segment's indexes, then the ends of its movi and RIFF lists.
void AviWriter::close_segment(bool has_successor) {
  const bool first = first_segment();
  if (has_successor || !first) emit_standard_index();
  riff_.end_chunk(segment_.movi);
  if (first) {
    emit_old_index();
    first_riff_frames_ = static_cast<std::uint32_t>(segment_.frames.size());
  }
  riff_.end_chunk(segment_.riff);
}

// The segment's ix00, and its entry in the super index. The entries go out
// in runs, so the chunk's size is patched in the file.
void AviWriter::emit_standard_index() {
  const auto frame_count = static_cast<std::uint32_t>(segment_.frames.size());
  const ChunkMark ix00 = riff_.begin_chunk("ix00");
  riff_.u16(2);                               // wLongsPerEntry
  riff_.u8(0);                                // bIndexSubType
  riff_.u8(1);                                // bIndexType: AVI_INDEX_OF_CHUNKS
  riff_.u32(frame_count);                     // nEntriesInUse
  riff_.fourcc("00db");                       // dwChunkId
  riff_.u64(segment_.movi.payload_offset);    // qwBaseOffset
  riff_.u32(0);                               // dwReserved
  segment_.frames.for_each([&](const FrameEntry& frame) {
    riff_.u32(frame.offset_from_movi + static_cast<std::uint32_t>(kChunkHeaderBytes));  // payload - base
    riff_.u32(frame.size_bytes);
    riff_.flush_run(kIndexRunBytes);
  });
  riff_.end_chunk(ix00);
  // Only a file of several segments needs the super index, allocated when
  // its first entry comes. An ix00 chunk is far below 4 GiB.
  if (!super_index_) super_index_.reset(new (std::nothrow) SuperIndexEntry[super_index_capacity_]);
  if (!super_index_ || super_index_size_ >= super_index_capacity_) return riff_.fail();
  const std::uint64_t index_offset = ix00.payload_offset - kChunkHeaderBytes;
  super_index_[super_index_size_++] = {index_offset, static_cast<std::uint32_t>(riff_.position() - index_offset),
                                       frame_count};
}

// Like ix00's, idx1's entries go out in runs.
void AviWriter::emit_old_index() {
  const ChunkMark idx1 = riff_.begin_chunk("idx1");
  segment_.frames.for_each([&](const FrameEntry& frame) {
    const bool key_frame = (frame.size_bytes & kNotKeyFrameBit) == 0;
    riff_.fourcc("00db");                            // dwChunkId
    riff_.u32(key_frame ? AVIIF_KEYFRAME : 0);       // dwFlags
    riff_.u32(frame.offset_from_movi);               // dwOffset
    riff_.u32(frame.size_bytes & ~kNotKeyFrameBit);  // dwSize
    riff_.flush_run(kIndexRunBytes);
  });
  riff_.end_chunk(idx1);
}

// The header list: the main header, the stream's list and the odml list.
void AviWriter::build_hdrl() {
  const ChunkMark hdrl = riff_.begin_list("LIST", "hdrl");
  build_main_header();
  const ChunkMark strl = riff_.begin_list("LIST", "strl");
  build_stream_header();
  const ChunkMark strf = riff_.begin_chunk("strf");
  riff_.copy({format_.get(), format_bytes_});
  riff_.end_chunk(strf);
  build_super_index();
  riff_.end_chunk(strl);
  const ChunkMark odml = riff_.begin_list("LIST", "odml");
  const ChunkMark dmlh = riff_.begin_chunk("dmlh");
  riff_.u32(total_frames_);  // dwTotalFrames
  riff_.zeros(244);          // dwFuture[61]
  riff_.end_chunk(dmlh);
  riff_.end_chunk(odml, !multi_segment());  // reserved as JUNK, like the super index
  riff_.end_chunk(hdrl);
}

void AviWriter::build_main_header() {
  const std::uint64_t scale = stream_.scale;
  const std::uint64_t rate = stream_.rate;
  const std::uint64_t largest_chunk = avi_layout::chunk_bytes(largest_frame_bytes_);
  // A top-down picture's rectangle runs to a negative bottom; the rows are a
  // count. The difference of two 32-bit values is exact in 64 bits, its
  // magnitude below 2^32.
  const std::int64_t rows = std::int64_t{stream_.frame_bottom} - stream_.frame_top;
  const ChunkMark avih = riff_.begin_chunk("avih");
  riff_.u32(rate != 0 ? saturate_u32(1000000 * scale / rate) : 0);         // dwMicroSecPerFrame
  riff_.u32(scale != 0 ? saturate_u32(largest_chunk * rate / scale) : 0);  // dwMaxBytesPerSec
  riff_.u32(0);                                                            // dwPaddingGranularity
  riff_.u32(AVIF_HASINDEX);                                                // dwFlags
  riff_.u32(multi_segment() ? first_riff_frames_ : total_frames_);         // dwTotalFrames
  riff_.u32(0);                                                            // dwInitialFrames
  riff_.u32(1);                                                            // dwStreams
  riff_.u32(largest_frame_bytes_);                                         // dwSuggestedBufferSize
  riff_.u32(static_cast<std::uint32_t>(stream_.frame_right) -
            static_cast<std::uint32_t>(stream_.frame_left));               // dwWidth
  riff_.u32(static_cast<std::uint32_t>(rows < 0 ? -rows : rows));         // dwHeight
  riff_.zeros(16);                                                         // dwReserved[4]
  riff_.end_chunk(avih);
}

void AviWriter::build_stream_header() {
  const ChunkMark strh = riff_.begin_chunk("strh");
  riff_.u32(stream_.fcc_type);        // fccType
  riff_.u32(stream_.fcc_handler);     // fccHandler
  riff_.u32(stream_.flags);           // dwFlags
  riff_.u16(stream_.priority);        // wPriority
  riff_.u16(stream_.language);        // wLanguage
  riff_.u32(stream_.initial_frames);  // dwInitialFrames
  riff_.u32(stream_.scale);           // dwScale
  riff_.u32(stream_.rate);            // dwRate
  riff_.u32(stream_.start);           // dwStart
  riff_.u32(total_frames_);           // dwLength: the frames actually stored
  riff_.u32(std::max(stream_.suggested_buffer_bytes, largest_frame_bytes_));  // dwSuggestedBufferSize
  riff_.u32(stream_.quality);         // dwQuality
  riff_.u32(stream_.sample_bytes);    // dwSampleSize
  // rcFrame: signed 16-bit values, the low 16 bits of the description's 32-bit ones
  riff_.u16(static_cast<std::uint16_t>(stream_.frame_left));
  riff_.u16(static_cast<std::uint16_t>(stream_.frame_top));
  riff_.u16(static_cast<std::uint16_t>(stream_.frame_right));
  riff_.u16(static_cast<std::uint16_t>(stream_.frame_bottom));
  riff_.end_chunk(strh);
}

// Every entry the capacity allows, unused ones zero; reserved as JUNK, which
// every reader skips, until a second segment exists.
void AviWriter::build_super_index() {
  const ChunkMark indx = riff_.begin_chunk("indx");
  riff_.u16(4);                  // wLongsPerEntry
  riff_.u8(0);                   // bIndexSubType
  riff_.u8(0);                   // bIndexType: AVI_INDEX_OF_INDEXES
  riff_.u32(super_index_size_);  // nEntriesInUse
  riff_.fourcc("00db");          // dwChunkId
  riff_.zeros(12);               // dwReserved[3]
  for (std::uint32_t i = 0; i < super_index_capacity_; ++i) {
    const SuperIndexEntry entry = i < super_index_size_ ? super_index_[i] : SuperIndexEntry{};
    riff_.u64(entry.index_offset);  // qwOffset
    riff_.u32(entry.index_bytes);   // dwSize
    riff_.u32(entry.frame_count);   // dwDuration
  }
  riff_.end_chunk(indx, !multi_segment());
}

// Ends the last segment, then builds hdrl again over the first with the final
// counters and, in several segments, the indexes in place of the JUNK: the
// same length, fixed by the format and the super index's capacity.
bool AviWriter::finish() {
  if (riff_.ok()) {
    if (total_frames_ == 0) {
      super_index_capacity_ = static_cast<std::uint32_t>(kSuperIndexFloor);
      start_file();  // no frame came: the header alone, with an empty movi
    }
    close_segment(false);
    riff_.begin_rewrite(hdrl_offset_);
    build_hdrl();
    riff_.end_rewrite(hdrl_end_);
  }
  return riff_.close();
}

}  // namespace trailavi::platform
