#pragma once

#include "base/exit_status.hpp"
#include "base/report.hpp"
#include "input/pass_threads.hpp"
#include "movie/video_stream.hpp"

namespace trailavi {

// The whole run in the current directory: the bitmap stage, the pre-scan,
// the video set-up, the frame pass and the end of the run, stopping at the
// first check that fails. The video file is created by `open_video_file`:
// the video library's own AVIFileOpenA, or a test's. The passes over the
// point file use `threads`: those of the machine, unless a test chooses.
[[nodiscard]] ExitStatus run(Report& report, OpenVideoFile open_video_file = AVIFileOpenA,
                             const PassThreads& threads = PassThreads::of_this_machine());

}  // namespace trailavi
