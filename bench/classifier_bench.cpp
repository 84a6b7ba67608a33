// Throughput of reading and classifying point lines, in bytes a second:
// the scan alone over text in memory, and the whole reader over a file in
// the page cache (blocks read, text rules applied, pieces classified).
// Every kind of line is shorter than a piece, so the in-memory scan cuts at
// line feeds alone.

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
};

// The reader's own scan over text in memory: line ends found by the
// line-feed finder, each line classified on its own.
void BM_ClassifyLines(benchmark::State& state) {
  std::string text = repeated(kKinds[state.range(0)]);
  const std::size_t size = text.size();
  text.append(trailavi::LineFeedFinder::kBlockBytes, '\0');  // the slack the scan may read
  std::int64_t points = 0;
  for (auto _ : state) {
    const char* p = text.data();
    const char* const end = p + size;
    const char* const readable = end + trailavi::LineFeedFinder::kBlockBytes;
    trailavi::LineFeedFinder line_feeds(p, end);
    while (p < end) {
      const char* const line_feed = line_feeds.next(p);
      trailavi::Point point;
      points += trailavi::classify_line(p, line_feed, readable, point);
      p = line_feed + 1;
    }
    benchmark::DoNotOptimize(points);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_ClassifyLines)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void BM_ReadFile(benchmark::State& state) {
  const std::string kind = kKinds[state.range(0) % 5];
  // Arguments from 5 on are the same kinds with CRLF line ends.
  const std::string line = state.range(0) < 5 ? kind : kind.substr(0, kind.size() - 1) + "\r\n";
  const std::string text = repeated(line);
  char path[] = "/tmp/trailavi-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the scratch file");
    return;
  }
  close(fd);
  trailavi::PointFile file;
  if (!file.open(path)) state.SkipWithError("cannot open the scratch file");
  std::int64_t points = 0;
  for (auto _ : state) {
    static_cast<void>(file.for_each_line([&](const trailavi::PointLine& piece) {
      points += piece.is_point;
      return true;
    }));
    if (!file.rewind()) state.SkipWithError("cannot rewind");
    benchmark::DoNotOptimize(points);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
  unlink(path);
}
BENCHMARK(BM_ReadFile)->Arg(0)->Arg(1)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
