#include "platform/avi_writer.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "base/int32_wrap.hpp"
#include "platform/avi_layout.hpp"

namespace trailavi::platform {
namespace {

using avi_layout::kChunkHeaderBytes;
using avi_layout::padded;

// One super index entry per segment; the floor covers about 256 GiB of 1 GiB
// segments, the ceiling keeps the reserved header space at 1 MiB.
constexpr std::uint64_t kSuperIndexFloor = 256;
constexpr std::uint64_t kSuperIndexCeiling = 65536;
// Segments of tiny frames end at the frame cap, not the size limit; the
// ceiling still gives any 32-bit frame count a super index entry per segment.
static_assert(kSuperIndexCeiling * kMaxSegmentFrames >= (std::uint64_t{1} << 32));
// Rounds of settling the super index's capacity before the ceiling is taken.
constexpr int kPlanRounds = 8;

constexpr std::uint32_t AVIF_HASINDEX = 0x10;   // avih dwFlags: the file has idx1
constexpr std::uint32_t AVIIF_KEYFRAME = 0x10;  // idx1 dwFlags: a key frame
constexpr std::uint32_t kNotKeyFrameBit = 0x80000000u;
constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();

// Index entries are written in runs of this many bytes, so no index needs a
// buffer of its whole size.
constexpr std::size_t kIndexRunBytes = 64 * 1024;

// The file stores the rectangle as signed 16-bit values, the low 16 bits of
// the description's 32-bit ones.
std::uint16_t low16(std::int32_t value) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value)); }

// The picture's height in rows. A top-down picture's rectangle runs to a
// negative bottom; the main header states its rows as a count. The
// difference of two 32-bit values is exact in 64 bits and its magnitude
// below 2^32.
std::uint32_t picture_rows(const StreamDescription& stream) {
  const std::int64_t rows = static_cast<std::int64_t>(stream.frame_bottom) - stream.frame_top;
  return static_cast<std::uint32_t>(rows < 0 ? -rows : rows);
}

}  // namespace

bool AviWriter::FrameIndex::push_back(const FrameEntry& entry) {
  const std::size_t block = size_ / kBlockEntries;
  if (block == kMaxBlocks) return false;
  if (!blocks_[block]) {
    blocks_[block].reset(new (std::nothrow) FrameEntry[kBlockEntries]);
    if (!blocks_[block]) return false;
  }
  blocks_[block][size_ % kBlockEntries] = entry;
  ++size_;
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
  failed_ = failed_ || !store_frame(frame, key_frame);
  return !failed_;
}

// The frame chunk goes out in one write with whatever must precede it, the
// frame referenced where it lies; then its index entry is recorded. The
// segment stays under 4 GiB (its RIFF size is 32-bit), so its offset fits.
bool AviWriter::store_frame(std::span<const std::uint8_t> frame, bool key_frame) {
  if (frame.size() >= kNotKeyFrameBit || total_frames_ == kU32Max) return false;
  const auto size_bytes = static_cast<std::uint32_t>(frame.size());
  if (!header_written_) largest_frame_bytes_ = size_bytes;
  if (!lead_in(kChunkHeaderBytes + padded(size_bytes))) return false;
  const std::uint64_t chunk_offset = file_.end_offset() + out_.size();
  const ChunkMark chunk = out_.begin_chunk("00db");
  out_.external(frame);
  out_.end_chunk(chunk);
  if (!send(std::nullopt)) return false;
  header_written_ = true;
  if (!segment_.frames.push_back({static_cast<std::uint32_t>(chunk_offset - segment_.movi_fourcc_offset),
                                  size_bytes | (key_frame ? 0u : kNotKeyFrameBit)})) {
    return false;
  }
  ++total_frames_;
  largest_frame_bytes_ = std::max(largest_frame_bytes_, size_bytes);
  return true;
}

// Leaves in out_ what precedes a frame chunk of `chunk_bytes` in the same
// write: the file's header before the first frame, the start of a new
// segment when the current one is full, otherwise nothing.
bool AviWriter::lead_in(std::uint64_t chunk_bytes) {
  if (!header_written_) {
    if (!plan_segments(chunk_bytes)) return false;
    start_header();
    return true;
  }
  out_.clear();
  if (segment_.frames.size() < frames_per_segment_ && fits_current_segment(chunk_bytes)) return true;
  return close_segment(true) && open_segment();
}

// Fixes, once, how many frames each segment holds: as many as the first
// RIFF holds beside the header, as built, and both its indexes, so that
// every standard index has the same count except the last. The super index
// is sized from the declared length; a larger super index makes the header
// longer, which can lower the count, so the two are settled together.
//
// The capacity only grows from round to round (a longer header never lets
// more frames fit, so never needs fewer entries), and a round that does not
// grow it ends the planning. Should it still grow after kPlanRounds, the
// ceiling is taken, which is settled: the entries needed are clamped to it.
// The frames fitting are at least 1, so the division is safe.
bool AviWriter::plan_segments(std::uint64_t chunk_bytes) {
  const std::uint64_t declared_frames = stream_.declared_frames;
  const std::uint64_t per_frame =
      chunk_bytes + avi_layout::kOldIndexEntryBytes + avi_layout::kStandardIndexEntryBytes;
  super_index_capacity_ = static_cast<std::uint32_t>(kSuperIndexFloor);
  for (int round = 0;; ++round) {
    const std::uint64_t fixed = avi_layout::header_bytes(format_bytes_, super_index_capacity_) +
                                avi_layout::old_index_bytes(0) + avi_layout::standard_index_bytes(0);
    const std::uint64_t fitting =
        riff_limit_bytes_ > fixed ? std::max<std::uint64_t>(1, (riff_limit_bytes_ - fixed) / per_frame) : 1;
    frames_per_segment_ = std::min(fitting, kMaxSegmentFrames);
    const std::uint64_t needed = (declared_frames + frames_per_segment_ - 1) / frames_per_segment_;
    const std::uint64_t capacity = std::clamp(needed, kSuperIndexFloor, kSuperIndexCeiling);
    if (capacity <= super_index_capacity_) return true;
    super_index_capacity_ = static_cast<std::uint32_t>(round + 1 < kPlanRounds ? capacity : kSuperIndexCeiling);
  }
}

bool AviWriter::fits_current_segment(std::uint64_t chunk_bytes) const {
  const std::uint64_t frames = segment_.frames.size() + 1;
  std::uint64_t index_bytes = avi_layout::standard_index_bytes(frames);
  if (segment_.riff_offset == 0) index_bytes += avi_layout::old_index_bytes(frames);
  const std::uint64_t used = file_.end_offset() - segment_.riff_offset;
  return used + chunk_bytes + index_bytes <= riff_limit_bytes_;
}

// Leaves the new segment's start in out_, its sizes 0 until it is closed.
bool AviWriter::open_segment() {
  // The segment being opened needs a super index entry of its own.
  if (super_index_size_ >= super_index_capacity_) return false;
  out_.clear();
  segment_.riff_offset = file_.end_offset();
  segment_.movi_fourcc_offset = segment_.riff_offset + build_segment_start(out_, 0, 0).payload_start;
  segment_.frames.clear();
  return true;
}

// Appends the segment's indexes and states the sizes of its RIFF and movi
// lists, measured in the file: the first segment's through the header's
// rewrite, a later one's by rewriting its start where it was opened.
bool AviWriter::close_segment(bool has_successor) {
  const bool first = segment_.riff_offset == 0;
  if ((has_successor || !first) && !append_standard_index()) return false;
  const std::uint64_t movi_bytes = file_.end_offset() - segment_.movi_fourcc_offset;
  if (first && !append_old_index()) return false;
  const std::uint64_t riff_bytes = file_.end_offset() - segment_.riff_offset - kChunkHeaderBytes;
  if (riff_bytes > kU32Max) return false;
  if (first) {
    first_riff_frames_ = static_cast<std::uint32_t>(segment_.frames.size());
    first_riff_bytes_ = static_cast<std::uint32_t>(riff_bytes);
    first_movi_bytes_ = static_cast<std::uint32_t>(movi_bytes);
    return true;
  }
  out_.clear();
  build_segment_start(out_, static_cast<std::uint32_t>(riff_bytes), static_cast<std::uint32_t>(movi_bytes));
  return send(segment_.riff_offset);
}

// The entries go out in runs, so the chunk states its size before them.
bool AviWriter::append_standard_index() {
  const std::uint64_t frame_count = segment_.frames.size();
  const std::uint64_t index_offset = file_.end_offset();
  const std::uint64_t index_bytes = avi_layout::standard_index_bytes(frame_count);
  out_.clear();
  out_.set_size(out_.begin_chunk("ix00"), static_cast<std::uint32_t>(index_bytes - kChunkHeaderBytes));
  out_.u16(2);  // wLongsPerEntry
  out_.u8(0);   // bIndexSubType
  out_.u8(1);   // bIndexType: AVI_INDEX_OF_CHUNKS
  out_.u32(static_cast<std::uint32_t>(frame_count));  // nEntriesInUse
  out_.fourcc("00db");                                 // dwChunkId
  out_.u64(segment_.movi_fourcc_offset);               // qwBaseOffset
  out_.u32(0);                                         // dwReserved
  const bool appended = segment_.frames.for_each([&](const FrameEntry& frame) {
    out_.u32(frame.offset_from_movi + static_cast<std::uint32_t>(kChunkHeaderBytes));  // payload - base
    out_.u32(frame.size_bytes);
    return append_run(kIndexRunBytes);
  });
  if (!appended || !append_run(1)) return false;
  assert(file_.end_offset() - index_offset == index_bytes);
  // Only a file of several segments needs the super index; open_segment
  // keeps its size below its capacity.
  if (!super_index_) {
    super_index_.reset(new (std::nothrow) SuperIndexEntry[super_index_capacity_]);
    if (!super_index_) return false;
  }
  super_index_[super_index_size_++] = {index_offset, static_cast<std::uint32_t>(index_bytes),
                                       static_cast<std::uint32_t>(frame_count)};
  return true;
}

// Like ix00's, idx1's entries go out in runs after its stated size.
bool AviWriter::append_old_index() {
  out_.clear();
  const std::uint64_t index_bytes = avi_layout::old_index_bytes(segment_.frames.size()) - kChunkHeaderBytes;
  out_.set_size(out_.begin_chunk("idx1"), static_cast<std::uint32_t>(index_bytes));
  const bool appended = segment_.frames.for_each([&](const FrameEntry& frame) {
    const bool key_frame = (frame.size_bytes & kNotKeyFrameBit) == 0;
    out_.fourcc("00db");
    out_.u32(key_frame ? AVIIF_KEYFRAME : 0);
    out_.u32(frame.offset_from_movi);
    out_.u32(frame.size_bytes & ~kNotKeyFrameBit);
    return append_run(kIndexRunBytes);
  });
  return appended && append_run(1);
}

// Sends out_ to the file once it holds `at_least` bytes, and any at all.
bool AviWriter::append_run(std::size_t at_least) {
  if (out_.size() < at_least || out_.size() == 0) return true;
  if (!send(std::nullopt)) return false;
  out_.clear();
  return true;
}

// Sends out_ to the file: at its end, or from `offset` over earlier bytes.
bool AviWriter::send(std::optional<std::uint64_t> offset) {
  ByteRange parts[ChunkBuffer::kMaxRanges];
  const std::span<const ByteRange> ranges(parts, out_.ranges(parts));
  return out_.ok() && (offset ? file_.write_at(*offset, ranges) : file_.append(ranges));
}

// The file's header, from the RIFF list's head to the movi list's type, which
// the first frame chunk follows; returns the movi list's mark.
ChunkMark AviWriter::build_header(ChunkBuffer& out) const {
  const ChunkMark riff = out.begin_list("RIFF", "AVI ");
  const ChunkMark hdrl = out.begin_list("LIST", "hdrl");
  build_main_header(out);
  const ChunkMark strl = out.begin_list("LIST", "strl");
  build_stream_header(out);
  const ChunkMark strf = out.begin_chunk("strf");
  out.external({format_.get(), format_bytes_});
  out.end_chunk(strf);
  build_super_index(out);
  out.end_chunk(strl);
  build_odml(out);
  out.end_chunk(hdrl);
  const ChunkMark movi = out.begin_list("LIST", "movi");
  // Both lists go on to the first segment's end, where the file measures them.
  out.set_size(riff, first_riff_bytes_);
  out.set_size(movi, first_movi_bytes_);
  return movi;
}

void AviWriter::build_main_header(ChunkBuffer& out) const {
  const std::uint64_t scale = stream_.scale;
  const std::uint64_t rate = stream_.rate;
  const std::uint64_t largest_chunk = kChunkHeaderBytes + padded(largest_frame_bytes_);
  const ChunkMark avih = out.begin_chunk("avih");
  out.u32(rate != 0 ? saturate_u32(1000000 * scale / rate) : 0);       // dwMicroSecPerFrame
  out.u32(scale != 0 ? saturate_u32(largest_chunk * rate / scale) : 0);  // dwMaxBytesPerSec
  out.u32(0);                                                        // dwPaddingGranularity
  out.u32(AVIF_HASINDEX);                                            // dwFlags
  out.u32(multi_segment() ? first_riff_frames_ : total_frames_);     // dwTotalFrames
  out.u32(0);                                                        // dwInitialFrames
  out.u32(1);                                                        // dwStreams
  out.u32(largest_frame_bytes_);                                     // dwSuggestedBufferSize
  out.u32(static_cast<std::uint32_t>(stream_.frame_right) -
          static_cast<std::uint32_t>(stream_.frame_left));           // dwWidth
  out.u32(picture_rows(stream_));                                    // dwHeight
  out.zeros(16);  // dwReserved[4]
  out.end_chunk(avih);
}

void AviWriter::build_stream_header(ChunkBuffer& out) const {
  const ChunkMark strh = out.begin_chunk("strh");
  out.u32(stream_.fcc_type);        // fccType
  out.u32(stream_.fcc_handler);     // fccHandler
  out.u32(stream_.flags);           // dwFlags
  out.u16(stream_.priority);        // wPriority
  out.u16(stream_.language);        // wLanguage
  out.u32(stream_.initial_frames);  // dwInitialFrames
  out.u32(stream_.scale);           // dwScale
  out.u32(stream_.rate);            // dwRate
  out.u32(stream_.start);           // dwStart
  out.u32(total_frames_);           // dwLength: the frames actually stored
  out.u32(std::max(stream_.suggested_buffer_bytes, largest_frame_bytes_));  // dwSuggestedBufferSize
  out.u32(stream_.quality);         // dwQuality
  out.u32(stream_.sample_bytes);    // dwSampleSize
  out.u16(low16(stream_.frame_left));
  out.u16(low16(stream_.frame_top));
  out.u16(low16(stream_.frame_right));
  out.u16(low16(stream_.frame_bottom));
  out.end_chunk(strh);
}

// Every entry the capacity allows, unused ones zero; reserved as JUNK, which
// every reader skips, until a second segment exists.
void AviWriter::build_super_index(ChunkBuffer& out) const {
  const ChunkMark indx = out.begin_chunk("indx");
  out.u16(4);  // wLongsPerEntry
  out.u8(0);   // bIndexSubType
  out.u8(0);   // bIndexType: AVI_INDEX_OF_INDEXES
  out.u32(super_index_size_);  // nEntriesInUse
  out.fourcc("00db");          // dwChunkId
  out.zeros(12);               // dwReserved[3]
  for (std::uint32_t i = 0; i < super_index_capacity_; ++i) {
    const SuperIndexEntry entry = i < super_index_size_ ? super_index_[i] : SuperIndexEntry{};
    out.u64(entry.index_offset);
    out.u32(entry.index_bytes);
    out.u32(entry.frame_count);  // dwDuration
  }
  out.end_chunk(indx, !multi_segment());
}

// Reserved as JUNK, like the super index, until a second segment exists.
void AviWriter::build_odml(ChunkBuffer& out) const {
  const ChunkMark odml = out.begin_list("LIST", "odml");
  const ChunkMark dmlh = out.begin_chunk("dmlh");
  out.u32(total_frames_);  // dwTotalFrames
  out.zeros(244);
  out.end_chunk(dmlh);
  out.end_chunk(odml, !multi_segment());
}

// An AVIX segment's start: its RIFF and movi list heads, with the sizes
// given; returns the movi list's mark.
ChunkMark AviWriter::build_segment_start(ChunkBuffer& out, std::uint32_t riff_bytes, std::uint32_t movi_bytes) {
  const ChunkMark riff = out.begin_list("RIFF", "AVIX");
  const ChunkMark movi = out.begin_list("LIST", "movi");
  out.set_size(riff, riff_bytes);
  out.set_size(movi, movi_bytes);
  return movi;
}

// Leaves the header in out_, as it first goes to the file, and where movi lies.
void AviWriter::start_header() {
  out_.clear();
  segment_.movi_fourcc_offset = build_header(out_).payload_start;
  header_bytes_ = out_.size();
}

// No frame came: the header goes out alone, with an empty movi.
bool AviWriter::write_header_alone() {
  super_index_capacity_ = static_cast<std::uint32_t>(kSuperIndexFloor);
  start_header();
  return send(std::nullopt);
}

// Rewrites the header in place with its final values. Its length depends on
// the format and the super index's capacity alone, both fixed once the
// header is first written, so the rewrite covers exactly the same bytes.
bool AviWriter::rewrite_header() {
  out_.clear();
  build_header(out_);
  assert(!out_.ok() || out_.size() == header_bytes_);
  return send(0);
}

bool AviWriter::finish() {
  const bool completed =
      !failed_ && (header_written_ || write_header_alone()) && close_segment(false) && rewrite_header();
  const bool closed = file_.close();
  return completed && closed;
}

}  // namespace trailavi::platform
