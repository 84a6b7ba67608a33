#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace trailavi {

// Finds the line feeds of a text [begin, end), front to back, 64 bytes at a
// time with SSE2 (one mask serves a block's lines, each answer clearing its
// bit), else by memchr. kBlockBytes past `end` must be readable; line feeds
// there are ignored.
class LineFeedFinder {
 public:
  static constexpr std::size_t kBlockBytes = 64;

  LineFeedFinder(const char* begin, const char* end) : block_(begin), end_(end) {
#if defined(__SSE2__)
    load_mask();
    found_ = search();
#else
    found_ = search_from(begin);
#endif
  }

  // The first line feed at or after p, in [begin, end); `end` if none. p
  // never decreases and never passes the last answer plus one, as a reader
  // moves on in lines ending at the line feed or before. So while the last
  // answer lies at or after p it still holds, which spares a text line far
  // over 255 characters a search for every piece; once passed, the next
  // answer is the next line feed.
  const char* next(const char* p) {
    assert(found_ >= p || found_ + 1 == p);
    if (found_ < p) found_ = search();
    return found_;
  }

 private:
  // The line feed after the last one answered, whose bit has been cleared.
  const char* search() {
#if defined(__SSE2__)
    while (ahead_ == 0) {
      block_ += kBlockBytes;
      if (block_ >= end_) return end_;
      load_mask();
    }
    const char* const found = block_ + std::countr_zero(ahead_);
    ahead_ &= ahead_ - 1;
    return found < end_ ? found : end_;
#else
    return search_from(found_ + 1);
#endif
  }

  // The first line feed in [from, end), or end.
  const char* search_from(const char* from) const {
    const void* found = std::memchr(from, '\n', static_cast<std::size_t>(end_ - from));
    return found != nullptr ? static_cast<const char*>(found) : end_;
  }

  void load_mask() {
#if defined(__SSE2__)
    const __m128i line_feed = _mm_set1_epi8('\n');
    ahead_ = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block_ + 16 * part));
      const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, line_feed)));
      ahead_ |= static_cast<std::uint64_t>(bits) << (16 * part);
    }
#endif
  }

  const char* block_;  // the 64 bytes ahead_ describes start here
  const char* end_;
  std::uint64_t ahead_ = 0;  // the block's line feeds not answered yet
  const char* found_ = nullptr;  // the last answer
};

}  // namespace trailavi
