#include "movie/frame_pass.hpp"

#include "movie/point_marking.hpp"
#include "movie/point_queue.hpp"
#include "os/os.hpp"

namespace trailavi {

ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video, unsigned thread_count) {
  // The drawing step: each frame is the canvas as it stands; a failed write
  // ends the pass, since no later frame may follow, as does a console's stop.
  const Canvas canvas(image);
  auto mark = [&canvas](const Point* run, std::size_t count) { canvas.mark_all(run, count); };
  auto frame = [&image, &video] { return !os::interruption_requested() && write_frame(image.pixels(), video); };
  auto draw = [&mark, &frame](const PointBatch& batch) { return drain_batch(batch, mark, frame); };
  PointQueue queue;
  if (!queue.start(points, thread_count)) return ExitStatus::frame_write_failed;
  const bool completed = queue.drain(draw);
  queue.join_reading();
  return completed ? ExitStatus::ok : ExitStatus::frame_write_failed;
}

}  // namespace trailavi
