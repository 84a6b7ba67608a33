#include "movie/frame_pass.hpp"

#include <memory>
#include <new>

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
  bool completed = false;
  PointQueue queue;
  if (thread_count >= 2 && queue.start_reading(points)) {
    completed = queue.drain(draw);
    queue.join_reading();
  } else if (const std::unique_ptr<PointBatch> batch(new (std::nothrow) PointBatch); batch) {
    // The two steps in turn, over one batch.
    do {
      fill_batch(points, *batch);
      completed = draw(*batch);
    } while (completed && !batch->last);
  }
  return completed ? ExitStatus::ok : ExitStatus::frame_write_failed;
}

}  // namespace trailavi
