#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "input/point_file.hpp"
#include "input/point_line.hpp"
#include "os/os.hpp"

namespace trailavi {

// The frame pass in two steps that overlap: one thread reads the point file
// and classifies its lines (fill), the other marks the points and writes the
// frames (drain), each taking the lines in file order. Between them lies a
// bounded ring of batches, so memory stays fixed whatever the file holds.
class PointQueue {
 public:
  // One batch: its points in file order, and where its separator lines
  // fall among them.
  struct Batch {
    static constexpr std::uint32_t kMostPoints = 8192;
    static constexpr std::uint32_t kMostSeparators = 2048;
    std::uint32_t point_count = 0;
    std::uint32_t separator_count = 0;
    bool last = false;  // the reading ended after this batch
    Point points[kMostPoints];
    // How many of the batch's points come before each separator line; never
    // decreasing, and at most point_count.
    std::uint32_t points_before_separator[kMostSeparators];
  };
  static constexpr std::uint32_t kBatches = 8;

  // False when the ring cannot be allocated.
  [[nodiscard]] bool allocate();

  // The reading step: every line of `points` from its current position into
  // the queue, until the data ends or the draining step stops.
  void fill(PointFile& points);

  // The other step: calls mark(points, count) for each run of points and
  // frame() for each separator line, in file order, until the lines end, or
  // frame() returns false, which stops the reading step too. Returns false
  // then.
  template <typename Mark, typename Frame>
  bool drain(Mark&& mark, Frame&& frame) {
    for (std::uint32_t taken = 0;;) {
      // Counts of batches wrap modulo 2^32; only their equality and their
      // difference, at most kBatches, are used, which the wrap keeps.
      os::wait_while_equal(filled_, taken);
      if (filled_.load(std::memory_order_acquire) == taken) continue;
      const Batch& batch = batches_[taken % kBatches];
      const bool all_written = drain_batch(batch, mark, frame);
      const bool last = batch.last;
      if (!all_written) stopped_.store(true, std::memory_order_relaxed);
      // The release hands the batch back; a stop is seen with it. The
      // reading step, when it waits, waits for half the ring.
      taken_.store(++taken, std::memory_order_release);
      if (!all_written || filled_.load(std::memory_order_relaxed) - taken == kBatches / 2) os::wake_waiters(taken_);
      if (!all_written) return false;
      if (last) return true;
    }
  }

 private:
  template <typename Mark, typename Frame>
  static bool drain_batch(const Batch& batch, Mark& mark, Frame& frame) {
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

  // Hands the batch being filled to the draining step and waits for room
  // for the next; false when the draining step has stopped.
  bool hand_over(bool last);

  std::unique_ptr<Batch[]> batches_;
  Batch* filling_ = nullptr;
  std::uint32_t handed_over_ = 0;  // the reading step's own count of filled_
  std::atomic<std::uint32_t> filled_{0};  // batches handed over
  std::atomic<std::uint32_t> taken_{0};   // batches drained and handed back
  std::atomic<bool> stopped_{false};      // the draining step stopped early
};

}  // namespace trailavi
