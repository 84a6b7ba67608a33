#pragma once

#include "base/exit_status.hpp"
#include "base/report.hpp"
#include "movie/video_stream.hpp"

namespace trailavi {

// The whole run in the current directory: the bitmap stage, the pre-scan,
// the video set-up, the frame pass and the end of the run, stopping at the
// first check that fails. The video file is created by `open_video_file`:
// the video library's own AVIFileOpenA, or a test's.
[[nodiscard]] ExitStatus run(Report& report, OpenVideoFile open_video_file = AVIFileOpenA);

}  // namespace trailavi
