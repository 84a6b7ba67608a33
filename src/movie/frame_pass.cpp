#include "movie/frame_pass.hpp"

#include <memory>
#include <new>

#include "movie/point_marking.hpp"
#include "movie/point_queue.hpp"
#include "os/os.hpp"

namespace trailavi {
namespace {

// The drawing step: marks a batch's points and writes a frame at each of
// its separators. Each frame is handed over straight from the canvas, with
// every mark made so far; a failed write ends the pass, since no later
// frame may follow, and so does a stop the console asked for.
class Drawing {
 public:
  Drawing(BackgroundImage& image, VideoOutput& video) : canvas_(image), image_(image), video_(video) {}

  bool operator()(const PointBatch& batch) {
    auto mark = [this](const Point* run, std::size_t count) { canvas_.mark_all(run, count); };
    auto frame = [this] { return !os::interruption_requested() && write_frame(image_.pixels(), video_); };
    return drain_batch(batch, mark, frame);
  }

 private:
  const Canvas canvas_;
  BackgroundImage& image_;
  VideoOutput& video_;
};

// The reading step on a thread of its own.
struct Reading {
  PointFile& points;
  PointQueue queue;
};

void fill_queue(void* reading) {
  Reading& steps = *static_cast<Reading*>(reading);
  steps.queue.fill(steps.points);
}

// Both steps at once: false, with nothing read, when the ring or the
// thread cannot be had.
bool draw_beside_reading(PointFile& points, Drawing& drawing, bool& completed) {
  Reading reading{points, {}};
  os::Thread reader;
  if (!reading.queue.allocate() || !reader.start(fill_queue, &reading)) return false;
  completed = reading.queue.drain(drawing);
  // A stop reaches the reader at its next batch; it ends before the pass.
  reader.join();
  return true;
}

// The steps in turn, over one batch.
bool draw_after_reading(PointFile& points, Drawing& drawing, bool& completed) {
  const std::unique_ptr<PointBatch> batch(new (std::nothrow) PointBatch);
  if (!batch) return false;
  do {
    fill_batch(points, *batch);
    completed = drawing(*batch);
  } while (completed && !batch->last);
  return true;
}

}  // namespace

ExitStatus run_frame_pass(PointFile& points, BackgroundImage& image, VideoOutput& video, unsigned thread_count) {
  Drawing drawing(image, video);
  bool completed = false;
  const bool ran = (thread_count >= 2 && draw_beside_reading(points, drawing, completed)) ||
                   draw_after_reading(points, drawing, completed);
  return ran && completed ? ExitStatus::ok : ExitStatus::frame_write_failed;
}

}  // namespace trailavi
