// The frame pass's guard against a library that cannot write files past a
// size: which frame counts a file may hold.

#include <gtest/gtest.h>

#include "movie/video_stream.hpp"

namespace trailavi {
namespace {

constexpr std::uint64_t k2GiB = std::uint64_t{1} << 31;
constexpr std::uint64_t kFullHdFrameBytes = 1920 * 3 * 1080;  // the stride is 5760, a multiple of 4

TEST(VideoFileLimit, KeepsEveryFileWithinTheLimit) {
  struct Case {
    const char* name;
    std::optional<std::uint64_t> limit;
    std::uint64_t frame_bytes;
    std::uint64_t frame_count;
    bool within;
  };
  const Case cases[] = {
      {"no limit, no frames", std::nullopt, 24, 0, true},
      {"no limit, far past 4 GiB", std::nullopt, kFullHdFrameBytes, 100000, true},
      {"no frames fit any limit", k2GiB, kFullHdFrameBytes, 0, true},
      // Measured with Wine's library: 345 frames of 1920 x 1080 make a file of
      // 2,146,186,356 bytes that every reader reads whole; a 346th would end
      // past 2 GiB.
      {"full HD, the last frame that fits", k2GiB, kFullHdFrameBytes, 345, true},
      {"full HD, one frame more", k2GiB, kFullHdFrameBytes, 346, false},
      // Empty frames still take a chunk header and an index entry each.
      {"80 million empty frames", k2GiB, 0, 80'000'000, true},
      {"90 million empty frames", k2GiB, 0, 90'000'000, false},
      // Two frames of just under 1 GiB fit only if nothing else is counted.
      {"two frames of 1 GiB less one byte", k2GiB, (std::uint64_t{1} << 30) - 1, 2, false},
      {"the headers alone past a tiny limit", std::uint64_t{4096}, 24, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(within_video_file_limit(c.limit, 40, c.frame_bytes, c.frame_count), c.within) << c.name;
  }
}

}  // namespace
}  // namespace trailavi
