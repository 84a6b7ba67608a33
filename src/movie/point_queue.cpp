#include "movie/point_queue.hpp"

#include <new>

namespace trailavi {

bool PointQueue::allocate() {
  batches_.reset(new (std::nothrow) Batch[kBatches]);
  filling_ = batches_.get();
  return batches_ != nullptr;
}

bool PointQueue::hand_over(bool last) {
  filling_->last = last;
  filled_.store(++handed_over_, std::memory_order_release);
  os::wake_waiters(filled_);
  if (last) return true;
  // The next batch's slot is free once the draining step has taken all but
  // kBatches - 1 of those handed over. A full ring waits until the draining
  // step has taken half of it, so that this thread sleeps and wakes once for
  // many batches: on some machines a wake-up costs more than a batch.
  if (handed_over_ - taken_.load(std::memory_order_acquire) >= kBatches) {
    for (;;) {
      const std::uint32_t taken = taken_.load(std::memory_order_acquire);
      if (stopped_.load(std::memory_order_relaxed)) return false;
      if (handed_over_ - taken <= kBatches / 2) break;
      os::wait_while_equal(taken_, taken);
    }
  }
  if (stopped_.load(std::memory_order_relaxed)) return false;
  filling_ = &batches_[handed_over_ % kBatches];
  filling_->point_count = 0;
  filling_->separator_count = 0;
  return true;
}

void PointQueue::fill(PointFile& points) {
  filling_->point_count = 0;
  filling_->separator_count = 0;
  // A stop is seen at the next hand-over, after at most one batch of lines.
  const bool completed = points.for_each_line([this](const PointLine& line) {
    Batch& batch = *filling_;
    if (line.is_point) {
      batch.points[batch.point_count++] = line.point;
      return batch.point_count < Batch::kMostPoints || hand_over(false);
    }
    batch.points_before_separator[batch.separator_count++] = batch.point_count;
    return batch.separator_count < Batch::kMostSeparators || hand_over(false);
  });
  // After a stop nothing more is drained.
  if (completed) static_cast<void>(hand_over(true));
}

}  // namespace trailavi
