// The piece reader: text rules and the 255-character pieces, checked against
// a plain model of them on files that cross the reader's buffer boundaries.

#include <gtest/gtest.h>

#include <cstdio>
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
  };
  for (const Case& c : cases) {
    test::ScratchDir dir;
    test::write_file(dir.file("test_.dat"), c.raw);
    PointFile file;
    ASSERT_TRUE(file.open(dir.file("test_.dat").c_str()));
    const PrescanCounts got = count_lines(file);
    EXPECT_EQ(got.point_count, c.counts.point_count) << c.raw.size();
    EXPECT_EQ(got.separator_count, c.counts.separator_count) << c.raw.size();
    EXPECT_EQ(got.x_max, c.counts.x_max) << c.raw.size();
    EXPECT_EQ(got.y_max, c.counts.y_max) << c.raw.size();
  }
}

}  // namespace
}  // namespace trailavi
