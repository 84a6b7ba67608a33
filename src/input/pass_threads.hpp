#pragma once

#include <cstdint>

namespace trailavi {

// How many threads a pass over the point file may use: the pre-scan reads
// the file in that many parts at once, and the frame pass, given two or
// more, reads and classifies its lines on one thread while the calling
// thread marks them and writes the frames. Both stay sequential for a file
// smaller than least_file_bytes, where starting a thread costs more than it
// saves, and for a file that is not regular. Tests choose their own, so that
// small texts are split.
struct PassThreads {
  // Measured with the benchmarks' kind of point file on two cores, whole
  // runs: at 64 KiB the threads cost 0.6 ms, at 256 KiB 13 %, at 512 KiB
  // they break even and at 1 MiB they save 13 %.
  static constexpr std::uint64_t kLeastFileBytes = 1u << 20;
  // More threads than this cost their buffers for little more speed.
  static constexpr unsigned kMostThreads = 16;

  unsigned count = 1;
  std::uint64_t least_file_bytes = kLeastFileBytes;

  // As many as this process may run on at once, up to kMostThreads.
  [[nodiscard]] static PassThreads of_this_machine();
};

}  // namespace trailavi
