#include "movie/point_queue.hpp"

#include <mutex>
#include <new>

namespace trailavi {
namespace {

// Fills `batch` with the next lines of `points`, until it is full or the data
// ends, which it returns. It stops after the line that fills the batch; the
// next call goes on there. Apart from the queue's members, the scan's loop
// takes an instruction a point fewer (g++ 12) than written in fill_next.
bool fill_batch(PointFile& points, PointBatch& batch) {
  batch.point_count = batch.separator_count = 0;
  batch.last = points.for_each_line([&batch](const PointLine& line) {
    if (line.is_point) {
      batch.points[batch.point_count++] = line.point;
      return batch.point_count < PointBatch::kMostPoints;
    }
    batch.points_before_separator[batch.separator_count++] = batch.point_count;
    return batch.separator_count < PointBatch::kMostSeparators;
  });
  return batch.last;
}

}  // namespace

bool PointQueue::start(PointFile& points, unsigned thread_count) {
  points_ = &points;
  ring_batches_ = thread_count >= 2 ? kBatches : 1;
  batches_.reset(new (std::nothrow) PointBatch[ring_batches_]);
  if (!batches_) return false;
  auto read_all = [](void* queue) {
    while (static_cast<PointQueue*>(queue)->fill_next()) {}
  };
  reading_thread_ = thread_count >= 2 && reader_.start(read_all, this, true);
  return true;
}

bool PointQueue::fill_next() {
  std::uint32_t index = 0;
  {
    const std::lock_guard locked(lock_);
    // A full ring waits until half is drawn: one sleep for several batches.
    if (filled_ - taken_ == ring_batches_) {
      while (!reader_may_resume()) room_.wait(lock_);
    }
    // A stop is seen here: it costs at most the rest of the batch being filled.
    if (stopped_) return false;
    index = filled_ % ring_batches_;
  }
  const bool last = fill_batch(*points_, batches_[index]);
  const std::lock_guard locked(lock_);
  ++filled_;
  batch_ready_.wake_all();
  return !last;
}

// The reading step ends only after handing over the last batch, or after
// the drawing step stopped, which then waits no more: this wait always ends.
const PointBatch& PointQueue::next_batch() {
  if (!reading_thread_) static_cast<void>(fill_next());
  const std::lock_guard locked(lock_);
  while (filled_ == taken_) batch_ready_.wait(lock_);
  return batches_[taken_ % ring_batches_];
}

void PointQueue::hand_back(bool completed) {
  const std::lock_guard locked(lock_);
  ++taken_;
  stopped_ = !completed;
  if (reader_may_resume()) room_.wake_all();
}

}  // namespace trailavi
