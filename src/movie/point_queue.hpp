#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "input/point_file.hpp"
#include "input/point_line.hpp"
#include "os/os.hpp"

namespace trailavi {

// A batch of the frame pass's lines, classified: its points in file order,
// and where its separator lines fall among them.
struct PointBatch {
  static constexpr std::uint32_t kMostPoints = 8192;
  static constexpr std::uint32_t kMostSeparators = 2048;
  std::uint32_t point_count = 0;
  std::uint32_t separator_count = 0;
  bool last = false;  // the data ended with this batch
  Point points[kMostPoints];
  // How many of the batch's points come before each separator line; never
  // decreasing, and at most point_count.
  std::uint32_t points_before_separator[kMostSeparators];
};

// Fills `batch` with the next lines of `points`, until it is full or the
// data ends.
void fill_batch(PointFile& points, PointBatch& batch);

// Calls mark(points, count) for each run of points and frame() for each
// separator, in file order, until frame() returns false; false then.
template <typename Mark, typename Frame>
bool drain_batch(const PointBatch& batch, Mark& mark, Frame& frame) {
  std::uint32_t marked = 0;
  for (std::uint32_t s = 0; s < batch.separator_count; ++s) {
    // marked <= points_before_separator[s] <= point_count: never
    // decreasing, so the count is never negative.
    const std::uint32_t before = batch.points_before_separator[s];
    mark(batch.points + marked, before - marked);
    marked = before;
    if (!frame()) return false;
  }
  mark(batch.points + marked, batch.point_count - marked);
  return true;
}

// The batches between the frame pass's steps on two threads, filled and
// drained in file order: a bounded ring, so memory stays fixed.
class PointQueue {
 public:
  static constexpr std::uint32_t kBatches = 8;

  // Starts the reading step on a thread of its own, batch after batch from
  // `points` until the data ends or the draining step stops. The thread keeps
  // off this one's processor: a virtual machine's scheduler may keep both
  // steps on one while another sits idle. False, with nothing read, when the
  // ring or the thread cannot be had.
  [[nodiscard]] bool start_reading(PointFile& points);
  // Waits for the reading step to end, which a stop reaches at its next batch.
  void join_reading() { reader_.join(); }

  // The other step: drain_one(batch) for each batch until the last, or until
  // drain_one returns false, which stops the reading step too; false then.
  template <typename DrainOne>
  bool drain(DrainOne&& drain_one) {
    // Counts of batches wrap modulo 2^32; only their equality and their
    // difference, at most kBatches, are used, which the wrap keeps.
    for (std::uint32_t taken = 0;;) {
      os::wait_while_equal(filled_, taken);
      const PointBatch& batch = batches_[taken % kBatches];
      const bool completed = drain_one(batch);
      const bool last = batch.last;
      if (!completed) stopped_ = true;
      taken_ = ++taken;
      // A full ring's reader waits until at most half is filled: it is woken
      // whenever that holds, and after a stop. The store and load crossing
      // the reader's are sequentially consistent, so this sees its last
      // batch or it sees this one taken.
      if (!completed || filled_ - taken <= kBatches / 2) os::wake_waiters(taken_);
      if (!completed) return false;
      if (last) return true;
    }
  }

 private:
  // Hands the batch over and waits for room for the next; false when there
  // is no next: the data ended, or the draining step stopped.
  bool hand_over(bool last);
  static void fill(void* queue);

  PointFile* points_ = nullptr;
  std::unique_ptr<PointBatch[]> batches_;
  std::uint32_t handed_over_ = 0;         // the reading step's own count of filled_
  std::atomic<std::uint32_t> filled_{0};  // batches handed over
  std::atomic<std::uint32_t> taken_{0};   // batches drained and handed back
  std::atomic<bool> stopped_{false};      // the draining step stopped early
  os::Thread reader_;                     // last: joined before the ring goes
};

}  // namespace trailavi
