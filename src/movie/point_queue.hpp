#pragma once

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

// The batches between the frame pass's reading and drawing steps, filled
// and drawn in file order: a bounded ring, so memory stays fixed. Its counts
// and its stop are under one lock, and every wait tests its whole condition
// under it, so no hand-over or stop falls between a test and a sleep. With
// no reading thread, the drawing step fills each batch through the same code.
class PointQueue {
 public:
  static constexpr std::uint32_t kBatches = 8;

  // Reads `points` on a thread of its own given two threads, kept off this
  // one's processor (a virtual machine's scheduler may keep both steps on one
  // while another sits idle), or else in turn with the drawing. False when
  // the ring cannot be had.
  [[nodiscard]] bool start(PointFile& points, unsigned thread_count);
  // Waits for the reading thread, which a stop reaches at its next batch.
  void join_reading() { reader_.join(); }

  // The drawing step: draw_one(batch) for each batch until the last, or
  // until draw_one returns false, which stops the reading step too; false
  // then. A batch is the drawer's until it is handed back.
  template <typename DrawOne>
  bool drain(DrawOne&& draw_one) {
    for (;;) {
      const PointBatch& batch = next_batch();
      const bool completed = draw_one(batch);
      const bool last = batch.last;
      hand_back(completed);
      if (!completed || last) return completed;
    }
  }

 private:
  // The reading step's one batch: waits for room, fills the next batch and
  // hands it over; false when no batch follows: the data ended, or the
  // drawing step stopped.
  bool fill_next();
  // The next filled batch, once there is one; filled here with no reader.
  const PointBatch& next_batch();
  void hand_back(bool completed);
  // Whether a reader that found the ring full may go on: to fill a batch
  // once at most half the ring is filled, or to end after a stop. Under the lock.
  [[nodiscard]] bool reader_may_resume() const { return stopped_ || filled_ - taken_ <= ring_batches_ / 2; }

  PointFile* points_ = nullptr;
  std::unique_ptr<PointBatch[]> batches_;
  std::uint32_t ring_batches_ = 1;
  bool reading_thread_ = false;
  os::Lock lock_;
  os::Condition batch_ready_;  // filled_ grew
  os::Condition room_;         // taken_ grew, or a stop
  // Under lock_. Counts of batches wrap modulo 2^32; only their equality and
  // their difference, at most ring_batches_, are used, which the wrap keeps.
  std::uint32_t filled_ = 0;  // batches handed over
  std::uint32_t taken_ = 0;   // batches drawn and handed back
  bool stopped_ = false;      // the drawing step stopped early
  os::Thread reader_;         // last: joined before the ring goes
};

}  // namespace trailavi
