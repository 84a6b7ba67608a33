#include "movie/frame_pass.hpp"

#include <memory>
#include <new>

#include "movie/point_marking.hpp"
#include "movie/point_queue.hpp"
#include "os/os.hpp"

namespace trailavi {
namespace {

// The reading step on a thread of its own.
struct Reading {
  PointFile& points;
  PointQueue queue;
};

void fill_queue(void* reading) {
  Reading& step = *static_cast<Reading*>(reading);
  step.queue.fill(step.points);
}

}  // namespace

ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video, unsigned thread_count) {
  // The drawing step. Each frame is handed over straight from the canvas,
  // with every mark made so far; a failed write ends the pass, since no
  // later frame may follow, and so does a stop the console asked for.
  const Canvas canvas(image);
  auto mark = [&canvas](const Point* run, std::size_t count) { canvas.mark_all(run, count); };
  auto frame = [&image, &video] { return !os::interruption_requested() && write_frame(image.pixels(), video); };
  auto draw = [&mark, &frame](const PointBatch& batch) { return drain_batch(batch, mark, frame); };
  bool completed = false;
  Reading reading{points, {}};
  os::Thread reader;
  if (thread_count >= 2 && reading.queue.allocate() && reader.start(fill_queue, &reading)) {
    completed = reading.queue.drain(draw);
    // A stop reaches the reader at its next batch; it ends before the pass.
    reader.join();
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
