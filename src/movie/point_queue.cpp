#include "movie/point_queue.hpp"

#include <new>

namespace trailavi {

void fill_batch(PointFile& points, PointBatch& batch) {
  batch.point_count = 0;
  batch.separator_count = 0;
  // Stops after the line that fills the batch; the next call goes on there.
  batch.last = points.for_each_line([&batch](const PointLine& line) {
    if (line.is_point) {
      batch.points[batch.point_count++] = line.point;
      return batch.point_count < PointBatch::kMostPoints;
    }
    batch.points_before_separator[batch.separator_count++] = batch.point_count;
    return batch.separator_count < PointBatch::kMostSeparators;
  });
}

bool PointQueue::start_reading(PointFile& points) {
  points_ = &points;
  batches_.reset(new (std::nothrow) PointBatch[kBatches]);
  return batches_ != nullptr && reader_.start(fill, this, true);
}

bool PointQueue::hand_over(bool last) {
  filled_ = ++handed_over_;
  os::wake_waiters(filled_);
  if (last) return false;
  // A stop is seen here: it costs at most the rest of the batch being filled.
  // A full ring waits until half is drained: one sleep for several batches.
  bool waited = false;
  for (;;) {
    if (stopped_) return false;
    const std::uint32_t taken = taken_;
    if (handed_over_ - taken < (waited ? kBatches / 2 + 1 : kBatches)) return true;
    waited = true;
    os::wait_while_equal(taken_, taken);
  }
}

void PointQueue::fill(void* queue) {
  PointQueue& ring = *static_cast<PointQueue*>(queue);
  do fill_batch(*ring.points_, ring.batches_[ring.handed_over_ % kBatches]);
  while (ring.hand_over(ring.batches_[ring.handed_over_ % kBatches].last));
}

}  // namespace trailavi
