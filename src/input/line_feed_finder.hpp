#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace trailavi {

// Finds the line feeds of a text, front to back, 64 bytes at a time where
// the processor has SSE2: one mask of the block's line feeds serves every
// line in it, so finding a line's end costs a few instructions and does not
// wait for anything but the mask. Elsewhere it asks memchr.
//
// The text is [begin, end); up to kBlockBytes bytes past `end` must be
// readable. Line feeds found there are ignored.
class LineFeedFinder {
 public:
  static constexpr std::size_t kBlockBytes = 64;

  LineFeedFinder(const char* begin, const char* end) : block_(begin), end_(end) { load_mask(); }

  // The first line feed at or after p, which lies in [begin, end); `end` when
  // there is none. Calls come with p never decreasing. The answer is kept:
  // while it lies at or after p it is still the answer, which spares a line
  // far longer than a piece from being searched again for every piece.
  const char* next(const char* p) {
    if (found_ != nullptr && found_ >= p) return found_;
    found_ = search(p);
    return found_;
  }

 private:
  // p lies at or after the current block, since it is past the line feed
  // the previous search found, if any.
  const char* search(const char* p) {
#if defined(__SSE2__)
    if (static_cast<std::size_t>(p - block_) >= kBlockBytes) {
      block_ = p;
      load_mask();
    }
    const char* base = p;
    std::uint64_t ahead = mask_ >> (p - block_);
    while (ahead == 0) {
      block_ += kBlockBytes;
      if (block_ >= end_) return end_;
      load_mask();
      base = block_;
      ahead = mask_;
    }
    const char* const found = base + std::countr_zero(ahead);
    return found < end_ ? found : end_;
#else
    const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end_ - p));
    return found != nullptr ? static_cast<const char*>(found) : end_;
#endif
  }

  void load_mask() {
#if defined(__SSE2__)
    const __m128i line_feed = _mm_set1_epi8('\n');
    mask_ = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block_ + 16 * part));
      const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, line_feed)));
      mask_ |= static_cast<std::uint64_t>(bits) << (16 * part);
    }
#endif
  }

  const char* block_;  // the 64 bytes mask_ describes start here
  const char* end_;
  std::uint64_t mask_ = 0;
  const char* found_ = nullptr;  // the last answer
};

}  // namespace trailavi
