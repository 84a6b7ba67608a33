// Throughput of reading and classifying point lines, in bytes a second:
// the scan alone over text in memory, and the whole reader over a file in
// the page cache (blocks read, text rules applied, pieces classified).
// Every kind of line is shorter than a piece, so the in-memory scan cuts at
// line feeds alone. The points' values go into a checksum the optimiser must
// keep: counting points alone would let it drop the number conversion.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "input/line_feed_finder.hpp"
#include "input/point_file.hpp"
#include "input/point_line.hpp"

namespace {

// About 8 MiB of lines of one kind.
std::string repeated(const std::string& line) {
  std::string text;
  while (text.size() < (8u << 20)) text += line;
  return text;
}

const char* const kKinds[] = {
    "123 456\n",                               // typical
    "                    12              34\n",  // long blank runs
    "-123 +456\n",                             // signs
    "\n",                                      // separators
    "1234567 -7654321 trailing words here\n",  // long values, ignored rest
    "",                                        // random 0 to 999, see mixed_lines
};
constexpr int kMixedKind = 5;

// Typical lines whose lengths vary as real data's do, so that no branch on a
// line's length is learned: two values from 0 to 999 each.
std::string mixed_lines() {
  std::string text;
  std::uint32_t state = 12345;
  const auto next_value = [&state] {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % 1000;
  };
  while (text.size() < (8u << 20)) {
    const unsigned x = next_value();
    const unsigned y = next_value();
    text += std::to_string(x) + ' ' + std::to_string(y) + '\n';
  }
  return text;
}

std::string text_of_kind(int kind) { return kind == kMixedKind ? mixed_lines() : repeated(kKinds[kind]); }

// Folds a point into the checksum: one addition, so that the checksum adds
// no more than a cycle to each line.
std::int64_t fold(std::int64_t checksum, bool is_point, const trailavi::Point& point) {
  return checksum + (is_point ? point.x + 3 * static_cast<std::int64_t>(point.y) : 1);
}

// The reader's own scan over text in memory: line ends found by the
// line-feed finder, each line classified on its own.
void BM_ClassifyLines(benchmark::State& state) {
  std::string text = text_of_kind(static_cast<int>(state.range(0)));
  const std::size_t size = text.size();
  text.append(trailavi::LineFeedFinder::kBlockBytes, '\0');  // the slack the scan may read
  std::int64_t checksum = 0;
  for (auto _ : state) {
    const char* p = text.data();
    const char* const end = p + size;
    const char* const readable = end + trailavi::LineFeedFinder::kBlockBytes;
    trailavi::LineFeedFinder line_feeds(p, end);
    while (p < end) {
      const char* const line_feed = line_feeds.next(p);
      trailavi::Point point;
      const bool is_point = trailavi::classify_line(p, line_feed, readable, point);
      checksum = fold(checksum, is_point, point);
      p = line_feed + 1;
    }
    benchmark::DoNotOptimize(checksum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_ClassifyLines)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

void BM_ReadFile(benchmark::State& state) {
  // Arguments from 10 on are the same kinds with CRLF line ends.
  const int kind = static_cast<int>(state.range(0) % 10);
  std::string text = text_of_kind(kind);
  if (state.range(0) >= 10) {
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    text = crlf;
  }
  char path[] = "/tmp/trailavi-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the scratch file");
    return;
  }
  close(fd);
  trailavi::PointFile file;
  if (!file.open(path)) state.SkipWithError("cannot open the scratch file");
  std::int64_t checksum = 0;
  for (auto _ : state) {
    static_cast<void>(file.for_each_line([&](const trailavi::PointLine& piece) {
      checksum = fold(checksum, piece.is_point, piece.point);
      return true;
    }));
    if (!file.rewind()) state.SkipWithError("cannot rewind");
    benchmark::DoNotOptimize(checksum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
  unlink(path);
}
BENCHMARK(BM_ReadFile)->Arg(0)->Arg(1)->Arg(3)->Arg(kMixedKind)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
