#include "platform/avi_writer.hpp"

#include "platform/avi_format.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace trailavi::platform {
namespace {

using namespace avi_format;

constexpr std::uint64_t kSuperIndexHeaderBytes = 24;
constexpr std::uint64_t kSuperIndexEntryBytes = 16;
constexpr std::uint64_t kOdmlPayloadBytes = 4 + kChunkHeaderBytes + 248;  // 'odml', then dmlh
constexpr std::uint64_t kStandardIndexHeaderBytes = kChunkHeaderBytes + 24;

// One super index entry per segment; the floor covers about 256 GiB of 1 GiB
// segments, the ceiling keeps the reserved header space at 1 MiB.
constexpr std::uint64_t kSuperIndexFloor = 256;
constexpr std::uint64_t kSuperIndexCeiling = 65536;
// Segments of tiny frames end at the frame cap, not the size limit; the
// ceiling still gives any 32-bit frame count a super index entry per segment.
static_assert(kSuperIndexCeiling * kMaxSegmentFrames >= (std::uint64_t{1} << 32));

constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::uint32_t kNotKeyFrameBit = 0x80000000u;
constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();

// Index entries are written in runs of this many bytes, so no index needs a
// buffer of its whole size.
constexpr std::size_t kIndexRunBytes = 64 * 1024;

std::uint32_t saturate_u32(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min(value, kU32Max));
}

// The file stores the rectangle as signed 16-bit values; the platform's
// record holds 32-bit ones, and the file keeps their low 16 bits.
std::uint16_t low16(LONG value) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value)); }

// The picture's height in rows. A top-down picture's rectangle runs to a
// negative bottom; the main header states its rows as a count. The
// difference of two 32-bit values is exact in 64 bits and its magnitude
// below 2^32.
std::uint32_t picture_rows(const RECT& frame) {
  const std::int64_t rows = static_cast<std::int64_t>(frame.bottom) - frame.top;
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

HRESULT AviWriter::fail() {
  failed_ = true;
  return AVIERR_FILEWRITE;
}

HRESULT AviWriter::set_format(std::span<const std::uint8_t> format) {
  if (header_written_) return AVIERR_UNSUPPORTED;
  std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[format.size()]);
  if (!copy) return AVIERR_MEMORY;
  if (!format.empty()) std::memcpy(copy.get(), format.data(), format.size());
  format_ = std::move(copy);
  format_bytes_ = format.size();
  return AVIERR_OK;
}

std::uint64_t AviWriter::strl_payload_bytes() const {
  return 4 + (kChunkHeaderBytes + kStreamHeaderBytes) + (kChunkHeaderBytes + padded(format_bytes_)) +
         (kChunkHeaderBytes + kSuperIndexHeaderBytes + kSuperIndexEntryBytes * super_index_capacity_);
}

std::uint64_t AviWriter::hdrl_payload_bytes() const {
  return 4 + (kChunkHeaderBytes + kMainHeaderBytes) + (kChunkHeaderBytes + strl_payload_bytes()) +
         (kChunkHeaderBytes + kOdmlPayloadBytes);
}

// From the start of the file to the first frame chunk, which directly
// follows the 'movi' FOURCC.
std::uint64_t AviWriter::header_bytes() const {
  return kListHeaderBytes + (kChunkHeaderBytes + hdrl_payload_bytes()) + kListHeaderBytes;
}

// Fixes, once, how many frames each segment holds: as many as the first
// RIFF holds beside the headers and both its indexes, so that every standard
// index has the same count except the last. The super index is sized from
// the declared length; a larger super index makes the header longer, which
// can lower the count, so the two are settled together.
void AviWriter::plan_segments(std::uint64_t chunk_bytes) {
  const std::uint64_t declared_frames = info_.dwLength;
  const std::uint64_t per_frame = chunk_bytes + kOldIndexEntryBytes + kStandardIndexEntryBytes;
  super_index_capacity_ = static_cast<std::uint32_t>(kSuperIndexFloor);
  for (int round = 0; round < 8; ++round) {
    const std::uint64_t fixed = header_bytes() + kChunkHeaderBytes + kStandardIndexHeaderBytes;
    const std::uint64_t fitting =
        riff_limit_bytes_ > fixed ? std::max<std::uint64_t>(1, (riff_limit_bytes_ - fixed) / per_frame) : 1;
    frames_per_segment_ = std::min(fitting, kMaxSegmentFrames);
    const std::uint64_t needed = (declared_frames + frames_per_segment_ - 1) / frames_per_segment_;
    const std::uint64_t capacity = std::clamp(needed, kSuperIndexFloor, kSuperIndexCeiling);
    if (capacity <= super_index_capacity_) return;
    super_index_capacity_ = static_cast<std::uint32_t>(capacity);
  }
}

bool AviWriter::fits_current_segment(std::uint64_t chunk_bytes) const {
  const std::uint64_t frames = segment_.frames.size() + 1;
  std::uint64_t index_bytes = kStandardIndexHeaderBytes + kStandardIndexEntryBytes * frames;
  if (segment_.riff_offset == 0) index_bytes += kChunkHeaderBytes + kOldIndexEntryBytes * frames;
  const std::uint64_t used = file_.end_offset() - segment_.riff_offset;
  return used + chunk_bytes + index_bytes <= riff_limit_bytes_;
}

HRESULT AviWriter::write_frame(std::span<const std::uint8_t> frame, bool key_frame) {
  if (failed_) return AVIERR_FILEWRITE;
  if (frame.size() >= kNotKeyFrameBit || total_frames_ == kU32Max) return fail();
  const auto size_bytes = static_cast<std::uint32_t>(frame.size());
  const std::uint64_t chunk_bytes = kChunkHeaderBytes + padded(size_bytes);

  // What precedes the frame chunk in the same write: the file's header before
  // the first frame, a new segment's header when the current one is full.
  ChunkBuffer lead_prefix;
  ChunkBuffer lead_suffix;
  std::span<const std::uint8_t> lead_format;
  if (!header_written_) {
    largest_frame_bytes_ = size_bytes;
    plan_segments(chunk_bytes);
    segment_.movi_fourcc_offset = header_bytes() - 4;
    build_header_prefix(lead_prefix);
    lead_format = {format_.get(), format_bytes_};
    build_header_suffix(lead_suffix);
  } else if (segment_.frames.size() >= frames_per_segment_ || !fits_current_segment(chunk_bytes)) {
    if (!close_segment(true) || !start_next_segment(lead_prefix)) return fail();
  }
  if (!lead_prefix.ok() || !lead_suffix.ok()) return fail();

  const std::uint8_t chunk_header[8] = {'0', '0', 'd', 'b',
                                        static_cast<std::uint8_t>(size_bytes),
                                        static_cast<std::uint8_t>(size_bytes >> 8),
                                        static_cast<std::uint8_t>(size_bytes >> 16),
                                        static_cast<std::uint8_t>(size_bytes >> 24)};
  static constexpr std::uint8_t kPad = 0;
  const ByteRange parts[] = {
      {lead_prefix.bytes().data(), lead_prefix.size()},
      {lead_format.data(), lead_format.size()},
      {lead_suffix.bytes().data(), lead_suffix.size()},
      {chunk_header, sizeof chunk_header},
      {frame.data(), frame.size()},
      {&kPad, size_bytes & 1u},
  };
  const std::uint64_t chunk_offset =
      file_.end_offset() + lead_prefix.size() + lead_format.size() + lead_suffix.size();
  if (!file_.append(parts)) return fail();
  header_written_ = true;

  // The segment stays under 4 GiB (its RIFF size is 32-bit), so the offset fits.
  if (!segment_.frames.push_back({static_cast<std::uint32_t>(chunk_offset - segment_.movi_fourcc_offset),
                                  size_bytes | (key_frame ? 0u : kNotKeyFrameBit)})) {
    return fail();
  }
  ++total_frames_;
  largest_frame_bytes_ = std::max(largest_frame_bytes_, size_bytes);
  return AVIERR_OK;
}

bool AviWriter::start_next_segment(ChunkBuffer& segment_header) {
  // The segment being opened needs a super index entry of its own.
  if (super_index_size_ >= super_index_capacity_) return false;
  segment_.riff_offset = file_.end_offset();
  segment_.movi_fourcc_offset = segment_.riff_offset + kListHeaderBytes + kChunkHeaderBytes;
  segment_.frames.clear();
  // Both sizes are placeholders until the segment is closed.
  segment_header.chunk_header("RIFF", 0);
  segment_header.fourcc("AVIX");
  segment_header.chunk_header("LIST", 0);
  segment_header.fourcc("movi");
  return true;
}

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
  // RIFF size, 'AVIX', 'LIST', movi size: one patch covers both sizes.
  ChunkBuffer sizes;
  sizes.u32(static_cast<std::uint32_t>(riff_bytes));
  sizes.fourcc("AVIX");
  sizes.fourcc("LIST");
  sizes.u32(static_cast<std::uint32_t>(movi_bytes));
  const ByteRange part[] = {{sizes.bytes().data(), sizes.size()}};
  return sizes.ok() && file_.write_at(segment_.riff_offset + 4, part);
}

bool AviWriter::append_standard_index() {
  const std::uint64_t frame_count = segment_.frames.size();
  const std::uint64_t index_offset = file_.end_offset();
  const std::uint64_t index_bytes = kStandardIndexHeaderBytes + kStandardIndexEntryBytes * frame_count;
  ChunkBuffer run;
  run.chunk_header("ix00", static_cast<std::uint32_t>(index_bytes - kChunkHeaderBytes));
  run.u16(2);  // wLongsPerEntry
  run.u8(0);   // bIndexSubType
  run.u8(1);   // bIndexType: AVI_INDEX_OF_CHUNKS
  run.u32(static_cast<std::uint32_t>(frame_count));  // nEntriesInUse
  run.fourcc("00db");                                 // dwChunkId
  run.u64(segment_.movi_fourcc_offset);               // qwBaseOffset
  run.u32(0);                                         // dwReserved
  const bool appended = segment_.frames.for_each([&](const FrameEntry& frame) {
    run.u32(frame.offset_from_movi + static_cast<std::uint32_t>(kChunkHeaderBytes));  // payload - base
    run.u32(frame.size_bytes);
    return run.size() < kIndexRunBytes || append_run(run);
  });
  if (!appended || !append_run(run)) return false;
  // Only a file of several segments needs the super index; start_next_segment
  // keeps its size below its capacity.
  if (!super_index_) {
    super_index_.reset(new (std::nothrow) SuperIndexEntry[super_index_capacity_]);
    if (!super_index_) return false;
  }
  super_index_[super_index_size_++] = {index_offset, static_cast<std::uint32_t>(index_bytes),
                                       static_cast<std::uint32_t>(frame_count)};
  return true;
}

bool AviWriter::append_old_index() {
  ChunkBuffer run;
  run.chunk_header("idx1", static_cast<std::uint32_t>(kOldIndexEntryBytes * segment_.frames.size()));
  const bool appended = segment_.frames.for_each([&](const FrameEntry& frame) {
    const bool key_frame = (frame.size_bytes & kNotKeyFrameBit) == 0;
    run.fourcc("00db");
    run.u32(key_frame ? AVIIF_KEYFRAME : 0);
    run.u32(frame.offset_from_movi);
    run.u32(frame.size_bytes & ~kNotKeyFrameBit);
    return run.size() < kIndexRunBytes || append_run(run);
  });
  return appended && append_run(run);
}

bool AviWriter::append_run(ChunkBuffer& run) {
  if (!run.ok()) return false;
  const ByteRange part[] = {{run.bytes().data(), run.size()}};
  if (run.size() > 0 && !file_.append(part)) return false;
  run.clear();
  return true;
}

void AviWriter::build_header_prefix(ChunkBuffer& out) const {
  const std::uint64_t scale = info_.dwScale;
  const std::uint64_t rate = info_.dwRate;
  const std::uint64_t largest_chunk = kChunkHeaderBytes + padded(largest_frame_bytes_);
  out.chunk_header("RIFF", first_riff_bytes_);
  out.fourcc("AVI ");
  out.chunk_header("LIST", static_cast<std::uint32_t>(hdrl_payload_bytes()));
  out.fourcc("hdrl");

  out.chunk_header("avih", static_cast<std::uint32_t>(kMainHeaderBytes));
  out.u32(rate != 0 ? saturate_u32(1000000 * scale / rate) : 0);       // dwMicroSecPerFrame
  out.u32(scale != 0 ? saturate_u32(largest_chunk * rate / scale) : 0);  // dwMaxBytesPerSec
  out.u32(0);                                                        // dwPaddingGranularity
  out.u32(AVIF_HASINDEX);                                            // dwFlags
  out.u32(multi_segment() ? first_riff_frames_ : total_frames_);     // dwTotalFrames
  out.u32(0);                                                        // dwInitialFrames
  out.u32(1);                                                        // dwStreams
  out.u32(largest_frame_bytes_);                                     // dwSuggestedBufferSize
  out.u32(static_cast<std::uint32_t>(info_.rcFrame.right) -
          static_cast<std::uint32_t>(info_.rcFrame.left));             // dwWidth
  out.u32(picture_rows(info_.rcFrame));                              // dwHeight
  out.zeros(16);  // dwReserved[4]

  out.chunk_header("LIST", static_cast<std::uint32_t>(strl_payload_bytes()));
  out.fourcc("strl");
  out.chunk_header("strh", static_cast<std::uint32_t>(kStreamHeaderBytes));
  out.u32(info_.fccType);
  out.u32(info_.fccHandler);
  out.u32(info_.dwFlags);
  out.u16(info_.wPriority);
  out.u16(info_.wLanguage);
  out.u32(info_.dwInitialFrames);
  out.u32(info_.dwScale);
  out.u32(info_.dwRate);
  out.u32(info_.dwStart);
  out.u32(total_frames_);  // dwLength: the frames actually stored
  out.u32(std::max(info_.dwSuggestedBufferSize, largest_frame_bytes_));
  out.u32(info_.dwQuality);
  out.u32(info_.dwSampleSize);
  out.u16(low16(info_.rcFrame.left));
  out.u16(low16(info_.rcFrame.top));
  out.u16(low16(info_.rcFrame.right));
  out.u16(low16(info_.rcFrame.bottom));

  out.chunk_header("strf", static_cast<std::uint32_t>(format_bytes_));
}

void AviWriter::build_header_suffix(ChunkBuffer& out) const {
  out.zeros(format_bytes_ & 1);  // strf pad
  build_super_index(out);
  build_odml(out);
  out.chunk_header("LIST", first_movi_bytes_);
  out.fourcc("movi");
}

// Reserved as JUNK, which every reader skips, until a second segment exists.
void AviWriter::build_super_index(ChunkBuffer& out) const {
  const std::uint64_t payload_bytes = kSuperIndexHeaderBytes + kSuperIndexEntryBytes * super_index_capacity_;
  if (!multi_segment()) {
    out.chunk_header("JUNK", static_cast<std::uint32_t>(payload_bytes));
    out.zeros(payload_bytes);
    return;
  }
  out.chunk_header("indx", static_cast<std::uint32_t>(payload_bytes));
  out.u16(4);  // wLongsPerEntry
  out.u8(0);   // bIndexSubType
  out.u8(0);   // bIndexType: AVI_INDEX_OF_INDEXES
  out.u32(super_index_size_);  // nEntriesInUse
  out.fourcc("00db");          // dwChunkId
  out.zeros(12);               // dwReserved[3]
  for (std::uint32_t i = 0; i < super_index_size_; ++i) {
    const SuperIndexEntry& entry = super_index_[i];
    out.u64(entry.index_offset);
    out.u32(entry.index_bytes);
    out.u32(entry.frame_count);  // dwDuration
  }
  out.zeros(kSuperIndexEntryBytes * (super_index_capacity_ - super_index_size_));
}

void AviWriter::build_odml(ChunkBuffer& out) const {
  if (!multi_segment()) {
    out.chunk_header("JUNK", static_cast<std::uint32_t>(kOdmlPayloadBytes));
    out.zeros(kOdmlPayloadBytes);
    return;
  }
  out.chunk_header("LIST", static_cast<std::uint32_t>(kOdmlPayloadBytes));
  out.fourcc("odml");
  out.chunk_header("dmlh", 248);
  out.u32(total_frames_);  // dwTotalFrames
  out.zeros(244);
}

// Appends the header, or rewrites it in place with its final values; the
// layout is the same both times, so the rewrite covers exactly the same bytes.
bool AviWriter::write_header(HeaderWrite how) {
  ChunkBuffer prefix;
  ChunkBuffer suffix;
  build_header_prefix(prefix);
  build_header_suffix(suffix);
  if (!prefix.ok() || !suffix.ok()) return false;
  const ByteRange parts[] = {
      {prefix.bytes().data(), prefix.size()},
      {format_.get(), format_bytes_},
      {suffix.bytes().data(), suffix.size()},
  };
  return how == HeaderWrite::append ? file_.append(parts) : file_.write_at(0, parts);
}

bool AviWriter::finish() {
  bool completed = false;
  if (!failed_) {
    if (!header_written_) {
      // No frame came: the header goes out alone, with an empty movi.
      super_index_capacity_ = static_cast<std::uint32_t>(kSuperIndexFloor);
      segment_.movi_fourcc_offset = header_bytes() - 4;
      header_written_ = write_header(HeaderWrite::append);
    }
    completed = header_written_ && close_segment(false) && write_header(HeaderWrite::rewrite);
  }
  const bool closed = file_.close();
  return completed && closed;
}

}  // namespace trailavi::platform
