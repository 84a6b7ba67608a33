#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace trailavi::test {

// An independent reader of the AVI files the program writes: it walks the
// whole RIFF tree, checks every chunk size, pad byte, counter and index entry
// against the chunks themselves, and collects what it finds. Any departure
// from a well-formed file is recorded in `errors`.
//
// Files written by the platform video library are read with
// AviLayout::platform_library, which lets through what that library does its
// own way (see walk_avi) and keeps every other check.
enum class AviLayout { ours, platform_library };

struct AviMainHeader {
  std::uint32_t micro_sec_per_frame = 0, max_bytes_per_sec = 0, padding_granularity = 0, flags = 0,
                total_frames = 0, initial_frames = 0, streams = 0, suggested_buffer_size = 0, width = 0,
                height = 0;
};

struct AviStreamHeader {
  std::string fcc_type, fcc_handler;
  std::uint32_t flags = 0;
  std::uint16_t priority = 0, language = 0;
  std::uint32_t initial_frames = 0, scale = 0, rate = 0, start = 0, length = 0, suggested_buffer_size = 0,
                quality = 0, sample_size = 0;
  std::int16_t frame_left = 0, frame_top = 0, frame_right = 0, frame_bottom = 0;
};

struct AviFrame {
  int segment = 0;
  std::uint64_t header_offset = 0;  // the frame chunk header's position
  std::uint32_t size_bytes = 0;
  std::string chunk_id = "00db";
  bool key_frame = false;  // as its index entry says
};

struct AviSummary {
  std::vector<std::string> errors;
  AviMainHeader main;
  AviStreamHeader stream;
  std::vector<std::uint8_t> format;
  std::vector<AviFrame> frames;
  int segment_count = 0;                  // RIFF chunks
  std::vector<std::uint64_t> riff_sizes;  // each RIFF's size field
  std::vector<std::uint32_t> standard_index_counts;  // ix00 entries per segment
  bool has_old_index = false;
  bool has_super_index = false;
  bool has_odml = false;
  std::uint32_t odml_total_frames = 0;
  std::uint64_t trailing_zero_bytes = 0;  // after the last RIFF (platform library only)
};

// Walks `path`; `riff_limit_bytes`, when not 0, is the largest a RIFF may be.
//
// AviLayout::platform_library also accepts zero bytes after the last RIFF
// (the library writes an empty chunk record there) and frames stored as
// '00dc' chunks without the key-frame flag (how it stores empty frames); both
// are recorded in the summary.
AviSummary walk_avi(const std::string& path, std::uint64_t riff_limit_bytes = 0,
                    AviLayout layout = AviLayout::ours);

// The payload of one frame chunk.
std::vector<std::uint8_t> read_frame(const std::string& path, const AviFrame& frame);

}  // namespace trailavi::test
