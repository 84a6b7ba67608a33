// The ring between the frame pass's two threads: every line arrives once, in
// file order, whether the drawing step keeps up or not; a stop ends both
// steps and costs the reading step at most one more ring of batches; and
// neither step is left waiting for a wake that never comes.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "movie/point_queue.hpp"
#include "support/bitmap_builder.hpp"
#include "support/scratch_dir.hpp"

namespace trailavi {
namespace {

constexpr std::int64_t kSeparator = -1;

// A point line for every line number but every `separator_every`-th, which
// is a separator; the events the drawing step must see, in order.
struct Lines {
  std::string text;
  std::vector<std::int64_t> events;
};

Lines lines(std::size_t count, std::size_t separator_every) {
  Lines made;
  for (std::size_t i = 1; i <= count; ++i) {
    if (separator_every != 0 && i % separator_every == 0) {
      made.text += "\n";
      made.events.push_back(kSeparator);
    } else {
      const auto x = static_cast<std::int64_t>(i % 1000);
      const auto y = static_cast<std::int64_t>(i / 1000);
      made.text += std::to_string(x) + " " + std::to_string(y) + "\n";
      made.events.push_back(x << 32 | y);
    }
  }
  return made;
}

TEST(PointQueue, HandsEveryLineOverInOrderAndStopsBothSteps) {
  constexpr std::size_t kBatch = PointBatch::kMostPoints;
  const struct {
    const char* name;
    Lines lines;
    std::chrono::microseconds drain_pause;
    int stop_at_batch;  // the batch whose drawing fails; -1: none
  } cases[] = {
      {"empty file", lines(0, 0), {}, -1},
      // The data ends with a full batch: the last batch is empty.
      {"last batch exactly full", lines(2 * kBatch, 0), {}, -1},
      {"fast drain", lines(30 * kBatch, 97), {}, -1},
      // The reading step fills the ring and waits for half of it, again and
      // again.
      {"slow drain, full ring", lines(30 * kBatch, 97), std::chrono::microseconds(300), -1},
      // Batches of separators alone, on both sides of a few points.
      {"separators only", lines(6 * PointBatch::kMostSeparators, 1), std::chrono::microseconds(100), -1},
      {"stop in the middle of the ring", lines(40 * kBatch, 0), std::chrono::microseconds(300), 3},
      {"stop at the first batch", lines(40 * kBatch, 0), {}, 0},
  };
  for (const auto& c : cases) {
    test::ScratchDir dir;
    test::write_file(dir.file("test_.dat"), c.lines.text);
    PointFile points;
    ASSERT_TRUE(points.open(dir.file("test_.dat").c_str()));
    PointQueue queue;
    ASSERT_TRUE(queue.start_reading(points));
    std::vector<std::int64_t> seen;
    int batch_number = 0;
    const bool completed = queue.drain([&](const PointBatch& batch) {
      auto mark = [&](const Point* run, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) seen.push_back(std::int64_t{run[i].x} << 32 | run[i].y);
      };
      auto frame = [&] {
        seen.push_back(kSeparator);
        return true;
      };
      EXPECT_TRUE(drain_batch(batch, mark, frame));
      std::this_thread::sleep_for(c.drain_pause);
      return batch_number++ != c.stop_at_batch;
    });
    queue.join_reading();

    EXPECT_EQ(completed, c.stop_at_batch < 0) << c.name;
    if (c.stop_at_batch < 0) {
      EXPECT_EQ(seen, c.lines.events) << c.name;
      continue;
    }
    // What was drawn is the file's beginning, batch by batch, up to the stop.
    EXPECT_EQ(batch_number, c.stop_at_batch + 1) << c.name;
    ASSERT_EQ(seen.size(), (static_cast<std::size_t>(c.stop_at_batch) + 1) * kBatch) << c.name;
    EXPECT_TRUE(std::equal(seen.begin(), seen.end(), c.lines.events.begin())) << c.name;
    // The reader stopped at most a ring and the batch it was filling past
    // the stop: the rest of the file is still unread.
    std::size_t unread = 0;
    EXPECT_TRUE(points.for_each_line([&unread](const PointLine&) { return ++unread > 0; }));
    const std::size_t most_read = (static_cast<std::size_t>(c.stop_at_batch) + 2 + PointQueue::kBatches) * kBatch;
    EXPECT_GE(unread, c.lines.events.size() - most_read) << c.name;
  }
}

}  // namespace
}  // namespace trailavi
