#pragma once

#include "base/exit_status.hpp"
#include "input/background_image.hpp"
#include "input/point_file.hpp"
#include "movie/video_stream.hpp"

namespace trailavi {

// The second pass over the point file: marks every point and writes the
// canvas as a key frame at every separator line. A reading step classifies
// the lines into batches and a drawing step marks and writes them: in turn
// on one thread, or at once given two (`thread_count`), the library seeing
// the same calls. frame_write_failed when a write fails, the next frame would
// pass the library's size limit, or the console asked a Windows run to stop.
[[nodiscard]] ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video,
                                        unsigned thread_count);

}  // namespace trailavi
