#include "avi_walker.hpp"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace trailavi::test {
namespace {

struct StandardIndex {
  std::uint64_t chunk_offset = 0;
  std::uint32_t chunk_size = 0;
  std::uint64_t base_offset = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // offset, size
};

struct SuperIndexEntry {
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
  std::uint32_t duration = 0;
};

class Walker {
 public:
  Walker(const std::string& path, std::uint64_t riff_limit, AviLayout layout)
      : in_(path, std::ios::binary), riff_limit_(riff_limit), layout_(layout) {
    std::error_code error;
    file_size_ = std::filesystem::file_size(path, error);
    if (!in_ || error) fail("cannot open " + path);
  }

  AviSummary walk() {
    if (layout_ == AviLayout::platform_library) allow_trailing_zeros();
    std::uint64_t position = 0;
    while (summary_.errors.empty() && position < file_size_) {
      position = walk_riff(position);
    }
    if (summary_.segment_count == 0) fail("no RIFF chunk");
    if (summary_.errors.empty()) check_indexes();
    return std::move(summary_);
  }

 private:
  void fail(const std::string& message) { summary_.errors.push_back(message); }

  // The platform library ends its files with an all-zero chunk record after
  // the RIFF. The walk then ends where the RIFF chunks do, provided that
  // everything after them is zero.
  void allow_trailing_zeros() {
    std::uint64_t end = 0;
    while (file_size_ - end >= 8) {
      const std::vector<std::uint8_t> header = bytes_at(end, 8);
      if (fourcc(header, 0) != "RIFF") break;
      end += 8 + padded(u32(header, 4));
    }
    if (end == 0 || end >= file_size_) return;
    for (std::uint8_t byte : bytes_at(end, file_size_ - end)) {
      if (byte != 0) return;  // left for the walk to report
    }
    summary_.trailing_zero_bytes = file_size_ - end;
    file_size_ = end;
  }
  static std::uint64_t padded(std::uint64_t size) { return size + (size & 1); }
  [[nodiscard]] bool is_frame_chunk(const std::string& id) const {
    return id == "00db" || (layout_ == AviLayout::platform_library && id == "00dc");
  }

  // Reads go through a window of the file, so that walking millions of small
  // chunks does not cost a seek and a read each.
  std::vector<std::uint8_t> bytes_at(std::uint64_t offset, std::uint64_t count) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count));
    if (offset > file_size_ || count > file_size_ - offset) {
      fail("read past the end at " + std::to_string(offset));
      return out;
    }
    if (count > kWindowBytes) {
      in_.clear();
      in_.seekg(static_cast<std::streamoff>(offset));
      in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
      return out;
    }
    if (offset < window_offset_ || offset + count > window_offset_ + window_.size()) {
      window_offset_ = offset;
      window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, file_size_ - offset)));
      in_.clear();
      in_.seekg(static_cast<std::streamoff>(offset));
      in_.read(reinterpret_cast<char*>(window_.data()), static_cast<std::streamsize>(window_.size()));
    }
    const auto begin = window_.begin() + static_cast<std::ptrdiff_t>(offset - window_offset_);
    std::copy(begin, begin + static_cast<std::ptrdiff_t>(count), out.begin());
    return out;
  }
  static std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
  }
  static std::uint16_t u16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
  }
  static std::uint64_t u64(const std::vector<std::uint8_t>& b, std::size_t at) {
    return u32(b, at) | static_cast<std::uint64_t>(u32(b, at + 4)) << 32;
  }
  static std::string fourcc(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::string(reinterpret_cast<const char*>(&b[at]), 4);
  }

  struct Chunk {
    std::string id;
    std::uint64_t offset = 0;  // header position
    std::uint32_t size = 0;
    std::string list_type;     // for LIST and RIFF
    [[nodiscard]] std::uint64_t payload() const { return offset + 8; }
    [[nodiscard]] std::uint64_t end() const { return offset + 8 + size; }
  };

  // The children of the region [begin, end), each checked to lie inside it
  // with its pad byte, which must be zero.
  std::vector<Chunk> children(std::uint64_t begin, std::uint64_t end, const std::string& where) {
    std::vector<Chunk> out;
    std::uint64_t position = begin;
    while (summary_.errors.empty() && position < end) {
      if (end - position < 8) {
        fail(where + ": trailing bytes at " + std::to_string(position));
        break;
      }
      const std::vector<std::uint8_t> header = bytes_at(position, 8);
      Chunk chunk{fourcc(header, 0), position, u32(header, 4), ""};
      if (chunk.size > end - position - 8) {
        fail(where + ": chunk " + chunk.id + " at " + std::to_string(position) + " runs past its parent");
        break;
      }
      if (chunk.id == "LIST" || chunk.id == "RIFF") {
        if (chunk.size < 4) {
          fail(where + ": list too short");
          break;
        }
        chunk.list_type = fourcc(bytes_at(position + 8, 4), 0);
      }
      std::uint64_t next = chunk.end();
      if (chunk.size % 2 == 1) {
        if (next >= end) {
          fail(where + ": odd chunk " + chunk.id + " without its pad byte");
          break;
        }
        if (bytes_at(next, 1)[0] != 0) fail(where + ": pad byte not zero after " + chunk.id);
        ++next;
      }
      out.push_back(chunk);
      position = next;
    }
    return out;
  }

  std::uint64_t walk_riff(std::uint64_t position) {
    const std::vector<Chunk> top = children(position, file_size_, "file");
    if (top.empty()) return file_size_;
    for (const Chunk& riff : top) {
      const int segment = summary_.segment_count++;
      summary_.riff_sizes.push_back(riff.size);
      if (riff.id != "RIFF") fail("top-level chunk " + riff.id + " is not RIFF");
      const std::string expected = segment == 0 ? "AVI " : "AVIX";
      if (riff.list_type != expected) fail("RIFF " + std::to_string(segment) + " is " + riff.list_type);
      if (riff_limit_ != 0 && riff.size + 8 > riff_limit_) fail("RIFF " + std::to_string(segment) + " over the limit");
      walk_segment(riff, segment);
    }
    return file_size_;
  }

  void walk_segment(const Chunk& riff, int segment) {
    bool seen_movi = false;
    for (const Chunk& chunk : children(riff.payload() + 4, riff.end(), "RIFF")) {
      if (chunk.id == "LIST" && chunk.list_type == "hdrl") {
        if (segment != 0 || seen_movi) fail("hdrl out of place");
        walk_hdrl(chunk);
      } else if (chunk.id == "LIST" && chunk.list_type == "movi") {
        if (seen_movi) fail("second movi in one RIFF");
        seen_movi = true;
        walk_movi(chunk, segment);
      } else if (chunk.id == "idx1") {
        if (segment != 0 || !seen_movi) fail("idx1 out of place");
        read_old_index(chunk);
      } else if (chunk.id != "JUNK") {
        fail("unexpected chunk " + chunk.id + " in RIFF");
      }
    }
    if (!seen_movi) fail("RIFF " + std::to_string(segment) + " has no movi");
  }

  void walk_hdrl(const Chunk& hdrl) {
    bool seen_avih = false;
    int streams = 0;
    for (const Chunk& chunk : children(hdrl.payload() + 4, hdrl.end(), "hdrl")) {
      if (chunk.id == "avih") {
        seen_avih = true;
        read_main_header(chunk);
      } else if (chunk.id == "LIST" && chunk.list_type == "strl") {
        ++streams;
        walk_strl(chunk);
      } else if (chunk.id == "LIST" && chunk.list_type == "odml") {
        walk_odml(chunk);
      } else if (chunk.id != "JUNK") {
        fail("unexpected chunk " + chunk.id + " in hdrl");
      }
    }
    if (!seen_avih) fail("no avih");
    if (streams != 1) fail("expected one strl, found " + std::to_string(streams));
  }

  void read_main_header(const Chunk& chunk) {
    if (chunk.size != 56) return fail("avih is not 56 bytes");
    const auto b = bytes_at(chunk.payload(), 56);
    AviMainHeader& m = summary_.main;
    m.micro_sec_per_frame = u32(b, 0);
    m.max_bytes_per_sec = u32(b, 4);
    m.padding_granularity = u32(b, 8);
    m.flags = u32(b, 12);
    m.total_frames = u32(b, 16);
    m.initial_frames = u32(b, 20);
    m.streams = u32(b, 24);
    m.suggested_buffer_size = u32(b, 28);
    m.width = u32(b, 32);
    m.height = u32(b, 36);
  }

  void walk_strl(const Chunk& strl) {
    bool seen_strh = false;
    bool seen_strf = false;
    for (const Chunk& chunk : children(strl.payload() + 4, strl.end(), "strl")) {
      if (chunk.id == "strh") {
        seen_strh = true;
        read_stream_header(chunk);
      } else if (chunk.id == "strf") {
        seen_strf = true;
        summary_.format = bytes_at(chunk.payload(), chunk.size);
      } else if (chunk.id == "indx") {
        read_super_index(chunk);
      } else if (chunk.id != "JUNK") {
        fail("unexpected chunk " + chunk.id + " in strl");
      }
    }
    if (!seen_strh || !seen_strf) fail("strl lacks strh or strf");
  }

  void read_stream_header(const Chunk& chunk) {
    if (chunk.size != 56) return fail("strh is not 56 bytes");
    const auto b = bytes_at(chunk.payload(), 56);
    AviStreamHeader& s = summary_.stream;
    s.fcc_type = fourcc(b, 0);
    s.fcc_handler = fourcc(b, 4);
    s.flags = u32(b, 8);
    s.priority = u16(b, 12);
    s.language = u16(b, 14);
    s.initial_frames = u32(b, 16);
    s.scale = u32(b, 20);
    s.rate = u32(b, 24);
    s.start = u32(b, 28);
    s.length = u32(b, 32);
    s.suggested_buffer_size = u32(b, 36);
    s.quality = u32(b, 40);
    s.sample_size = u32(b, 44);
    s.frame_left = static_cast<std::int16_t>(u16(b, 48));
    s.frame_top = static_cast<std::int16_t>(u16(b, 50));
    s.frame_right = static_cast<std::int16_t>(u16(b, 52));
    s.frame_bottom = static_cast<std::int16_t>(u16(b, 54));
  }

  void read_super_index(const Chunk& chunk) {
    summary_.has_super_index = true;
    if (chunk.size < 24) return fail("indx too short");
    const auto b = bytes_at(chunk.payload(), chunk.size);
    if (u16(b, 0) != 4 || b[2] != 0 || b[3] != 0) fail("indx header fields wrong");
    const std::uint32_t used = u32(b, 4);
    if (fourcc(b, 8) != "00db") fail("indx chunk id wrong");
    if (used > (chunk.size - 24) / 16) return fail("indx holds more entries than fit");
    for (std::uint32_t i = 0; i < used; ++i) {
      const std::size_t at = 24 + 16 * static_cast<std::size_t>(i);
      super_index_.push_back({u64(b, at), u32(b, at + 8), u32(b, at + 12)});
    }
  }

  void walk_odml(const Chunk& odml) {
    for (const Chunk& chunk : children(odml.payload() + 4, odml.end(), "odml")) {
      if (chunk.id == "dmlh") {
        if (chunk.size < 4) return fail("dmlh too short");
        summary_.has_odml = true;
        summary_.odml_total_frames = u32(bytes_at(chunk.payload(), 4), 0);
      }
    }
  }

  void walk_movi(const Chunk& movi, int segment) {
    movi_fourcc_.push_back(movi.payload());
    const std::vector<Chunk> chunks = children(movi.payload() + 4, movi.end(), "movi");
    bool first_chunk = true;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      const Chunk& chunk = chunks[i];
      if (is_frame_chunk(chunk.id)) {
        if (first_chunk && chunk.offset != movi.payload() + 4) fail("first frame not right after movi");
        summary_.frames.push_back({segment, chunk.offset, chunk.size, chunk.id});
      } else if (chunk.id == "ix00") {
        if (i + 1 != chunks.size()) fail("ix00 is not the last chunk of movi");
        read_standard_index(chunk, segment);
      } else {
        fail("unexpected chunk " + chunk.id + " in movi");
      }
      first_chunk = false;
    }
  }

  void read_standard_index(const Chunk& chunk, int segment) {
    if (chunk.size < 24) return fail("ix00 too short");
    const auto b = bytes_at(chunk.payload(), chunk.size);
    if (u16(b, 0) != 2 || b[2] != 0 || b[3] != 1) fail("ix00 header fields wrong");
    const std::uint32_t used = u32(b, 4);
    if (fourcc(b, 8) != "00db") fail("ix00 chunk id wrong");
    if (chunk.size != 24 + 8 * static_cast<std::uint64_t>(used)) return fail("ix00 size does not match its count");
    StandardIndex index{chunk.offset, chunk.size, u64(b, 12), {}};
    for (std::uint32_t i = 0; i < used; ++i) {
      index.entries.emplace_back(u32(b, 24 + 8 * i), u32(b, 28 + 8 * i));
    }
    if (static_cast<int>(standard_indexes_.size()) != segment) fail("ix00 for segment out of order");
    standard_indexes_.push_back(std::move(index));
  }

  void read_old_index(const Chunk& chunk) {
    summary_.has_old_index = true;
    if (chunk.size % 16 != 0) return fail("idx1 size not a multiple of 16");
    const auto b = bytes_at(chunk.payload(), chunk.size);
    for (std::size_t at = 0; at < b.size(); at += 16) {
      old_index_.push_back({fourcc(b, at), u32(b, at + 4), u32(b, at + 8), u32(b, at + 12)});
    }
  }

  std::vector<AviFrame*> frames_of(int segment) {
    std::vector<AviFrame*> out;
    for (AviFrame& frame : summary_.frames) {
      if (frame.segment == segment) out.push_back(&frame);
    }
    return out;
  }

  void check_old_index() {
    const auto first = frames_of(0);
    if (!summary_.has_old_index) return fail("no idx1");
    if (old_index_.size() != first.size()) return fail("idx1 count differs from the first RIFF's frames");
    for (std::size_t i = 0; i < first.size(); ++i) {
      const OldEntry& entry = old_index_[i];
      first[i]->key_frame = (entry.flags & 0x10) != 0;
      if (entry.id != first[i]->chunk_id) fail("idx1 entry " + std::to_string(i) + " id wrong");
      // Our frames are all key frames, flagged AVIIF_KEYFRAME alone; the
      // platform library's empty '00dc' frames are the one kind not flagged.
      if (layout_ == AviLayout::ours ? entry.flags != 0x10 : !first[i]->key_frame && first[i]->chunk_id == "00db") {
        fail("idx1 entry " + std::to_string(i) + " not flagged a key frame alone");
      }
      if (movi_fourcc_[0] + entry.offset != first[i]->header_offset) fail("idx1 entry " + std::to_string(i) + " offset wrong");
      if (entry.size != first[i]->size_bytes) fail("idx1 entry " + std::to_string(i) + " size wrong");
    }
  }

  void check_standard_indexes() {
    for (std::size_t s = 0; s < standard_indexes_.size(); ++s) {
      const StandardIndex& index = standard_indexes_[s];
      const auto frames = frames_of(static_cast<int>(s));
      summary_.standard_index_counts.push_back(static_cast<std::uint32_t>(index.entries.size()));
      if (index.entries.size() != frames.size()) {
        fail("ix00 " + std::to_string(s) + " count differs from its frames");
        continue;
      }
      for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto [offset, size] = index.entries[i];
        if (index.base_offset + offset != frames[i]->header_offset + 8) fail("ix00 entry offset wrong");
        frames[i]->key_frame = (size & 0x80000000u) == 0;
        if (!frames[i]->key_frame) fail("ix00 entry not a key frame");
        if ((size & 0x7FFFFFFFu) != frames[i]->size_bytes) fail("ix00 entry size wrong");
      }
      if (s + 1 < standard_indexes_.size() && index.entries.size() != standard_indexes_[0].entries.size()) {
        fail("ix00 counts differ before the last segment");
      }
    }
  }

  void check_super_index() {
    if (super_index_.size() != standard_indexes_.size()) return fail("indx entry count differs from ix00 count");
    for (std::size_t s = 0; s < super_index_.size(); ++s) {
      const StandardIndex& index = standard_indexes_[s];
      if (super_index_[s].offset != index.chunk_offset) fail("indx entry " + std::to_string(s) + " offset wrong");
      if (super_index_[s].size != index.chunk_size + 8) fail("indx entry " + std::to_string(s) + " size wrong");
      if (super_index_[s].duration != index.entries.size()) fail("indx entry " + std::to_string(s) + " duration wrong");
    }
  }

  void check_indexes() {
    const auto total = static_cast<std::uint32_t>(summary_.frames.size());
    check_old_index();
    if (summary_.stream.length != total) fail("strh dwLength differs from the frames stored");
    if (summary_.main.total_frames != frames_of(0).size()) fail("avih dwTotalFrames differs from the first RIFF's frames");
    if (summary_.main.streams != 1) fail("avih dwStreams is not 1");
    if (summary_.segment_count == 1) {
      if (!standard_indexes_.empty() || summary_.has_super_index || summary_.has_odml) {
        fail("a one-RIFF file carries OpenDML indexes");
      }
      return;
    }
    if (!summary_.has_super_index || !summary_.has_odml) return fail("a multi-RIFF file lacks indx or odml");
    if (summary_.odml_total_frames != total) fail("dmlh dwTotalFrames differs from the frames stored");
    if (static_cast<int>(standard_indexes_.size()) != summary_.segment_count) fail("not every segment has ix00");
    check_standard_indexes();
    check_super_index();
  }

  struct OldEntry {
    std::string id;
    std::uint32_t flags, offset, size;
  };

  static constexpr std::uint64_t kWindowBytes = 1 << 20;
  std::ifstream in_;
  std::vector<std::uint8_t> window_;
  std::uint64_t window_offset_ = 0;
  std::uint64_t file_size_ = 0;
  std::uint64_t riff_limit_;
  AviLayout layout_;
  AviSummary summary_;
  std::vector<std::uint64_t> movi_fourcc_;
  std::vector<StandardIndex> standard_indexes_;
  std::vector<SuperIndexEntry> super_index_;
  std::vector<OldEntry> old_index_;
};

}  // namespace

AviSummary walk_avi(const std::string& path, std::uint64_t riff_limit_bytes, AviLayout layout) {
  return Walker(path, riff_limit_bytes, layout).walk();
}

std::vector<std::uint8_t> read_frame(const std::string& path, const AviFrame& frame) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(frame.header_offset + 8));
  std::vector<std::uint8_t> out(frame.size_bytes);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return out;
}

}  // namespace trailavi::test
