#pragma once

#include "base/exit_status.hpp"
#include "input/background_image.hpp"
#include "input/point_file.hpp"
#include "movie/video_stream.hpp"

namespace trailavi {

// The second pass over the point file: marks every point and writes the
// canvas as a key frame at every separator line. The lines go in batches
// from a reading step, which reads and classifies them, to a drawing step,
// which marks them and writes the frames: with one thread the two take
// turns over one batch; with two or more (`thread_count`) another thread
// reads while this one draws, and the library sees the same calls either
// way. frame_write_failed when a write fails, the next frame would take the
// file past the library's size limit, or the console asked a Windows run to
// stop.
[[nodiscard]] ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video,
                                        unsigned thread_count);

}  // namespace trailavi
