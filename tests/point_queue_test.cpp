// The ring between the frame pass's two steps, on two threads or in turn on
// one: every line arrives once, in file order, whether the drawing step keeps
// up or not; a stop ends both steps and costs the reading step at most one
// more ring of batches; and neither step is left waiting for a wake that
// never comes.

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <chrono>
#include <string>
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
  constexpr std::size_t kSeparatorBatch = PointBatch::kMostSeparators;
  struct Case {
    std::string name;
    Lines lines;
    std::size_t batch_lines;  // lines a full batch holds
    std::chrono::microseconds drain_pause;
    int stop_at_batch;  // the batch whose drawing fails; -1: none
    int repeats;
  };
  std::vector<Case> cases = {
      {"empty file", lines(0, 0), kBatch, {}, -1, 1},
      // The data ends with a full batch: the last batch is empty.
      {"last batch exactly full", lines(2 * kBatch, 0), kBatch, {}, -1, 1},
      {"fast drain", lines(30 * kBatch, 97), kBatch, {}, -1, 1},
      // The reading step fills the ring and waits for half of it, again and
      // again.
      {"slow drain, full ring", lines(30 * kBatch, 97), kBatch, std::chrono::microseconds(300), -1, 1},
      // Batches of separators alone, on both sides of a few points.
      {"separators only", lines(6 * kSeparatorBatch, 1), kSeparatorBatch, std::chrono::microseconds(100), -1, 1},
      {"stop in the middle of the ring", lines(40 * kBatch, 0), kBatch, std::chrono::microseconds(300), 3, 1},
      {"stop at the first batch", lines(40 * kBatch, 0), kBatch, {}, 0, 1},
  };
  // A stop at every batch of a file of 40, each many times over, the drawing
  // step faster or slower than the reading one, so that the stop meets the
  // reading step at every point of its loop, its ring full or not: every run
  // ends.
  const Lines separators = lines(40 * kSeparatorBatch, 1);
  for (int k = 0; k < 40; ++k) {
    for (int pause_us : {0, 10, 20, 40}) {
      cases.push_back({"stop at batch " + std::to_string(k) + " after " + std::to_string(pause_us) + " us a batch",
                       separators, kSeparatorBatch, std::chrono::microseconds(pause_us), k, 50});
    }
  }
  for (const Case& c : cases) {
    test::ScratchDir dir;
    test::write_file(dir.file("test_.dat"), c.lines.text);
    // Last, once on one thread, where the same queue runs its steps in turn.
    for (int run = 0; run <= c.repeats; ++run) {
      const unsigned threads = run < c.repeats ? 2 : 1;
      PointFile points;
      ASSERT_TRUE(points.open(dir.file("test_.dat").c_str()));
      PointQueue queue;
      ASSERT_TRUE(queue.start(points, threads));
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
        // Busy, not asleep: a sleep takes far longer than asked.
        for (const auto until = std::chrono::steady_clock::now() + c.drain_pause;
             std::chrono::steady_clock::now() < until;) {
        }
        return batch_number++ != c.stop_at_batch;
      });
      queue.join_reading();

      ASSERT_EQ(completed, c.stop_at_batch < 0) << c.name << " on " << threads << " threads";
      if (c.stop_at_batch < 0) {
        EXPECT_EQ(seen, c.lines.events) << c.name << " on " << threads << " threads";
        continue;
      }
      // What was drawn is the file's beginning, batch by batch, up to the stop.
      ASSERT_EQ(batch_number, c.stop_at_batch + 1) << c.name << " on " << threads << " threads";
      const auto stop = static_cast<std::size_t>(c.stop_at_batch);
      ASSERT_EQ(seen.size(), (stop + 1) * c.batch_lines) << c.name << " on " << threads << " threads";
      ASSERT_TRUE(std::equal(seen.begin(), seen.end(), c.lines.events.begin())) << c.name << " on " << threads << " threads";
      // The reader stopped at most a ring and the batch it was filling past
      // the stop: the rest of the file is still unread.
      std::size_t unread = 0;
      EXPECT_TRUE(points.for_each_line([&unread](const PointLine&) { return ++unread > 0; }));
      const std::size_t most_read = (stop + 2 + PointQueue::kBatches) * c.batch_lines;
      ASSERT_GE(unread + std::min(most_read, c.lines.events.size()), c.lines.events.size()) << c.name << " on " << threads << " threads";
    }
  }
}

#if defined(__linux__)
// A thread asked to keep off its starter's processor places itself, never
// its starter: one that ends at once, before its starter could have placed
// it, leaves the starter's processors as they were.
TEST(PointQueue, ReaderThreadsLeaveTheirStartersProcessorsAlone) {
  cpu_set_t before, after;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  for (int i = 0; i < 1000; ++i) {
    os::Thread thread;
    ASSERT_TRUE(thread.start([](void*) {}, nullptr, true));
    thread.join();
  }
  ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
  EXPECT_TRUE(CPU_EQUAL(&before, &after));
}
#endif

}  // namespace
}  // namespace trailavi
