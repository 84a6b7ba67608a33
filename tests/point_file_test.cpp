// The piece reader: text rules and the 255-character pieces, checked against
// a plain model of them on files that cross the reader's buffer boundaries.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "input/point_file.hpp"
#include "input/prescan.hpp"
#include "support/bitmap_builder.hpp"
#include "support/scratch_dir.hpp"
#include "support/text_rules_model.hpp"

namespace trailavi {
namespace {

using namespace std::string_literals;

using test::model_pieces;

std::vector<std::string> read_pieces(PointFile& file) {
  std::vector<std::string> pieces;
  EXPECT_TRUE(file.for_each_line([&](const PointLine& line) {
    pieces.emplace_back(line.text);
    return true;
  }));
  return pieces;
}

// The pre-scan's counts of `raw`, read in `parts` parts however small.
// The bytes this process has read so far, by the kernel's count.
std::int64_t bytes_read_by_this_process() {
  std::ifstream io("/proc/self/io");
  std::string name;
  std::int64_t value = -1;
  while (io >> name >> value && name != "rchar:") {
  }
  return value;
}

// The pre-scan's counts of `raw`, read in `parts` parts however small, and
// how many bytes the counting read.
PrescanCounts counts_of(const std::string& raw, unsigned parts, std::size_t block_bytes = PointFile::kDefaultBlockBytes,
                        std::int64_t* read_bytes = nullptr) {
  test::ScratchDir dir;
  test::write_file(dir.file("test_.dat"), raw);
  PointFile file(block_bytes);
  EXPECT_TRUE(file.open(dir.file("test_.dat").c_str()));
  const std::int64_t before = bytes_read_by_this_process();
  const PrescanCounts counts = count_lines(file, parts);
  if (read_bytes != nullptr) *read_bytes = bytes_read_by_this_process() - before;
  return counts;
}

std::vector<std::string> pieces_of(const std::string& raw,
                                   std::size_t block_bytes = PointFile::kDefaultBlockBytes) {
  test::ScratchDir dir;
  test::write_file(dir.file("test_.dat"), raw);
  PointFile file(block_bytes);
  EXPECT_TRUE(file.open(dir.file("test_.dat").c_str()));
  return read_pieces(file);
}

TEST(PointFile, CutsPiecesAsTheTextRulesSay) {
  struct Case {
    std::string raw;
    std::vector<std::string> pieces;
  };
  const std::string a255(255, 'a');
  const Case cases[] = {
      {"", {}},
      {"1 2\n\n3 4", {"1 2\n", "\n", "3 4"}},
      {"3\r4\r\n", {"34\n"}},
      {"\r\r\r", {}},
      {"1 2\n\x1A" "3 4\n", {"1 2\n"}},
      {"1 2\x1A\n", {"1 2"}},
      {"a\0b\n"s, {"a\0b\n"s}},
      {std::string(300, 'x') + "\n", {std::string(255, 'x'), std::string(45, 'x') + "\n"}},
      {a255 + "\n", {a255, "\n"}},
      {std::string(254, 'a') + "\n", {std::string(254, 'a') + "\n"}},
      {std::string(254, 'a') + "\r\n", {std::string(254, 'a') + "\n"}},
      {a255 + a255 + a255, {a255, a255, a255}},
  };
  for (const Case& c : cases) {
    for (std::size_t block_bytes : {PointFile::kDefaultBlockBytes, PointFile::kMinBlockBytes, std::size_t{600}}) {
      EXPECT_EQ(pieces_of(c.raw, block_bytes), c.pieces) << "input of " << c.raw.size() << " bytes";
    }
  }
}

TEST(PointFile, MatchesTheModelAcrossBufferBoundaries) {
  std::mt19937 random(7);
  const char kBytes[] = {'1', ' ', '\n', '\r', '-', 'x', '\0'};
  for (int round = 0; round < 12; ++round) {
    std::string raw;
    const std::size_t size = 200'000 + 50'000 * static_cast<std::size_t>(round);
    std::uniform_int_distribution<int> byte_of(0, sizeof kBytes - 1);
    std::uniform_int_distribution<int> run_of(0, round % 3 == 0 ? 600 : 40);
    while (raw.size() < size) {
      const char c = kBytes[byte_of(random)];
      raw.append(static_cast<std::size_t>(run_of(random)) / (c == '\n' ? 40 : 1) + 1, c);
    }
    if (round == 11) raw[raw.size() - 1000] = 0x1A;
    // Small blocks move the refills to every kind of place in a piece.
    const std::size_t block_bytes = round % 2 == 0 ? PointFile::kDefaultBlockBytes : 512 + 97 * static_cast<std::size_t>(round);
    EXPECT_EQ(pieces_of(raw, block_bytes), model_pieces(raw)) << "round " << round;
    // Split into parts, the pre-scan counts what one reading counts.
    const PrescanCounts whole = counts_of(raw, 1, block_bytes);
    for (unsigned parts : {2u, 3u, 8u}) EXPECT_EQ(counts_of(raw, parts, block_bytes), whole) << "round " << round;
  }
}

// The reader and classifier together against fgets into a 256-byte buffer
// and sscanf("%d%d"), on lines whose numbers are cut at every position
// around the 255-character boundary. The file holds no carriage return or
// 0x1A, where the C library's reading on Linux and the text rules agree.
TEST(PointFile, AgreesWithFgetsAndSscanfAroundThe255CharacterCut) {
  std::string raw;
  for (int padding = 240; padding <= 262; ++padding) {
    for (const char* tail : {"12 34\n", "-5\t+6 x\n", "7 8", "9\n", " 1 2 3\n"}) {
      raw += std::string(static_cast<std::size_t>(padding), padding % 3 == 0 ? '\t' : ' ') + tail + "\n";
    }
    raw += std::string(static_cast<std::size_t>(padding), '0') + "4 5\n";  // long, yet in range
  }
  test::ScratchDir dir;
  test::write_file(dir.file("test_.dat"), raw);

  std::vector<std::pair<bool, Point>> expected;
  std::FILE* reference = std::fopen(dir.file("test_.dat").c_str(), "rb");
  ASSERT_NE(reference, nullptr);
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, reference) != nullptr) {
    int x = 0;
    int y = 0;
    const bool is_point = std::sscanf(buffer, "%d%d", &x, &y) == 2;
    expected.emplace_back(is_point, is_point ? Point{x, y} : Point{});
  }
  std::fclose(reference);

  std::vector<std::pair<bool, Point>> got;
  PointFile file;
  ASSERT_TRUE(file.open(dir.file("test_.dat").c_str()));
  EXPECT_TRUE(file.for_each_line([&](const PointLine& line) {
    got.emplace_back(line.is_point, line.is_point ? line.point : Point{});
    return true;
  }));
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].first, expected[i].first) << "piece " << i;
    EXPECT_EQ(got[i].second, expected[i].second) << "piece " << i;
  }
}

TEST(PointFile, RewindMakesTheSameDataReadableAgain) {
  test::ScratchDir dir;
  const std::string raw = std::string(400'000, '\n') + "5 6\n\x1A" + "7 8\n";
  test::write_file(dir.file("test_.dat"), raw);
  PointFile file;
  ASSERT_TRUE(file.open(dir.file("test_.dat").c_str()));
  const auto first = read_pieces(file);
  ASSERT_TRUE(file.rewind());
  EXPECT_EQ(read_pieces(file), first);
  EXPECT_EQ(first, model_pieces(raw));
}

TEST(PointFile, OpenRefusesMissingFilesAndDirectories) {
  test::ScratchDir dir;
  PointFile file;
  EXPECT_FALSE(file.open(dir.file("absent").c_str()));
  EXPECT_FALSE(file.open(dir.path().c_str()));
}

TEST(Prescan, CountsPointsSeparatorsAndMaxima) {
  struct Case {
    std::string raw;
    PrescanCounts counts;
  };
  const Case cases[] = {
      {"", {0, 0, 0, 0}},
      {"0 0\n\n1 0\n\n", {2, 2, 1, 0}},
      {"-5 -6\n", {1, 0, 0, 0}},
      {"3 9\n12 -1\nend\n\n", {2, 2, 12, 9}},
      {"1 1\n2 2\n\x1A" "9 9\n\n", {2, 0, 2, 2}},
      {"4 4", {1, 0, 4, 4}},
      // 255 blanks are a piece of their own; the rest of the line is a point.
      {std::string(300, ' ') + "5 5\n", {1, 1, 5, 5}},
      // The cut falls after "12": both pieces hold one integer.
      {std::string(253, ' ') + "12 34\n", {0, 2, 0, 0}},
      // A 0x1A in a later part ends the data there: nothing after it counts,
      // in its part or the next.
      {"1 1\n2 2\n3 3\n4 4\n5 5\n6 6\n\x1A" "9 9\n\n\n8 8\n", {6, 0, 6, 6}},
      {"1 1\n2 2\n3 3\n4 4\n5 5\n6 6\n7\x1A" "9 9\n\n\n8 8\n", {6, 1, 6, 6}},
      // Lines of more than 255 characters across the boundaries, whose
      // pieces count from the line's start: a separator piece, then points.
      {"1 2\n" + std::string(600, ' ') + "5 6\n" + std::string(255, 'x') + "7 8\n3 4\n", {4, 3, 7, 8}},
      {std::string(256, '1') + "\n" + std::string(254, ' ') + "1\n", {0, 4, 0, 0}},
      // Carriage returns at and around every boundary, dropped wherever they
      // stand; a line feed after them still starts a line.
      {"1 1\r\n\r\n2 2\r\r\n\r3 3\n\r\r\r\n4\r 4\r", {4, 2, 4, 4}},
      {std::string(254, ' ') + "\r\r1 2\n\r\n", {0, 3, 0, 0}},
      // Texts shorter than the parts.
      {"7", {0, 1, 0, 0}},
      {"\n", {0, 1, 0, 0}},
      {"\x1A", {0, 0, 0, 0}},
      {"5 6", {1, 0, 5, 6}},
  };
  // Read whole, and in parts whose boundaries fall everywhere in these
  // short texts, through buffers of the least size too.
  for (const Case& c : cases) {
    for (unsigned parts : {1u, 2u, 3u, 4u, 7u}) {
      for (std::size_t block_bytes : {PointFile::kDefaultBlockBytes, PointFile::kMinBlockBytes}) {
        const PrescanCounts got = counts_of(c.raw, parts, block_bytes);
        EXPECT_EQ(got, c.counts) << c.raw.size() << " bytes in " << parts << " parts, blocks of " << block_bytes;
      }
    }
  }
}

// Each part's start is searched for once, no further than the next part's
// boundary, and each part reads exactly its own bytes: a file with no line
// feed is read once by the parts, whatever their number, and searched at
// most once more; an ordinary file is searched a few kilobytes a part.
TEST(Prescan, PartsReadEveryByteOnce) {
  std::string ordinary;
  for (int i = 0; ordinary.size() < 300'000; ++i) ordinary += std::to_string(i % 640) + " 7\n" + (i % 9 == 0 ? "\n" : "");
  std::string carriage_returns;
  while (carriage_returns.size() < 300'000) carriage_returns += "12 34\r\r";
  const struct {
    const char* name;
    std::string raw;
    std::int64_t most_searched_per_part;  // 0: up to the file's size in all
  } cases[] = {
      {"carriage returns only, as old Mac text", carriage_returns, 0},
      {"one line", "5 6 " + std::string(300'000, 'x') + "\n", 0},
      {"ordinary lines", ordinary, 4096},
  };
  ASSERT_GT(bytes_read_by_this_process(), 0) << "the kernel's count of bytes read is needed";
  for (const auto& c : cases) {
    const PrescanCounts whole = counts_of(c.raw, 1);
    for (unsigned parts : {2u, 3u, 16u}) {
      std::int64_t read_bytes = 0;
      EXPECT_EQ(counts_of(c.raw, parts, PointFile::kDefaultBlockBytes, &read_bytes), whole) << c.name << ", " << parts;
      const auto size = static_cast<std::int64_t>(c.raw.size());
      const std::int64_t most_searched = c.most_searched_per_part == 0 ? size : c.most_searched_per_part * parts;
      EXPECT_GE(read_bytes, size) << c.name << ", " << parts;
      EXPECT_LE(read_bytes, size + most_searched) << c.name << ", " << parts;
    }
  }
}

}  // namespace
}  // namespace trailavi
