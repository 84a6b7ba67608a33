#pragma once

#include <cstdint>

#include "base/exit_status.hpp"
#include "base/report.hpp"
#include "movie/video_stream.hpp"

namespace trailavi {

// How many threads the passes over the point file use: the pre-scan's parts,
// and the frame pass's reading beside its drawing from two on. One for a file
// smaller than least_file_bytes, where a thread costs more than it saves, or
// not regular. Tests choose their own, so that small texts are split.
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
  // For a point file of `size_bytes`, -1 when it is not a regular file.
  [[nodiscard]] unsigned for_file(std::int64_t size_bytes) const;
};

// The whole run in the current directory, stopping at the first check that
// fails; a test may pass its own `open_video_file` and `threads`.
[[nodiscard]] ExitStatus run(Report& report, OpenVideoFile open_video_file = AVIFileOpenA,
                             const PassThreads& threads = PassThreads::of_this_machine());

}  // namespace trailavi
