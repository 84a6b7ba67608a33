// The classification of point-file pieces: exactly what "%d%d" gives.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "input/point_line.hpp"
#include "support/parse_point_line.hpp"

namespace trailavi {
namespace {

using namespace std::string_literals;
using test::parse_point_line;

// `length` characters drawn from `alphabet`, with no run of more than nine
// digits, so that every value sscanf converts stays in range.
std::string random_text(std::mt19937& random, const char* alphabet, std::uniform_int_distribution<int>& char_of,
                        int length) {
  std::string text;
  int digit_run = 0;
  while (static_cast<int>(text.size()) < length) {
    char c = alphabet[char_of(random)];
    digit_run = (c >= '0' && c <= '9') ? digit_run + 1 : 0;
    if (digit_run > 9) c = ' ';
    text.push_back(c);
  }
  return text;
}

struct LineCase {
  std::string piece;
  bool is_point;
  Point point;
};

TEST(PointLine, ClassifiesTheLineKinds) {
  const LineCase cases[] = {
      {"3 4\n", true, {3, 4}},
      {"3\t4\n", true, {3, 4}},
      {"   3 4 and then text\n", true, {3, 4}},
      {"+3 -4\n", true, {3, -4}},
      {"3-4\n", true, {3, -4}},
      {"3+4\n", true, {3, 4}},
      {"\v\f3\t\r 4\n", true, {3, 4}},  // every C white-space kind
      {"3\n", false, {}},               // the line feed ends the piece
      {"1 2 3\n", true, {1, 2}},
      {"00012 -0\n", true, {12, 0}},
      {"7 8", true, {7, 8}},  // no line end
      {"34\n", false, {}},    // "3\r4": the carriage return is gone before classification
      {"", false, {}},
      {"\n", false, {}},
      {" \t \n", false, {}},
      {"7\n", false, {}},
      {"7,8\n", false, {}},
      {"1.5 2\n", false, {}},
      {"a 1 2\n", false, {}},
      {"12abc 5\n", false, {}},
      {"0x10 5\n", false, {}},
      {"- 3 4\n", false, {}},
      {"3 - 4\n", false, {}},
      {"3 +\n", false, {}},
      {"+-3 4\n", false, {}},
  };
  for (const LineCase& c : cases) {
    Point point{-99, -99};
    EXPECT_EQ(parse_point_line(c.piece, point), c.is_point) << '"' << c.piece << '"';
    if (c.is_point) {
      EXPECT_EQ(point, c.point) << '"' << c.piece << '"';
    }
  }
}

TEST(PointLine, ANulByteEndsWhatTheConversionSees) {
  Point point;
  EXPECT_FALSE(parse_point_line("3\0 4\n"s, point));
  EXPECT_FALSE(parse_point_line("\0 3 4\n"s, point));
  EXPECT_FALSE(parse_point_line("3 -\0 4\n"s, point));
  ASSERT_TRUE(parse_point_line("3 4\0 garbage"s, point));
  EXPECT_EQ(point, (Point{3, 4}));
}

TEST(PointLine, OutOfRangeValuesKeepTheirLow32Bits) {
  const LineCase cases[] = {
      {"2147483647 -2147483648", true, {INT32_MAX, INT32_MIN}},
      {"2147483648 -2147483649", true, {INT32_MIN, INT32_MAX}},
      {"4294967296 4294967297", true, {0, 1}},
      {"-4294967297 0", true, {-1, 0}},
      {"99999999999999999999 -99999999999999999999", true, {1661992959, -1661992959}},
      {std::string(200, '7') + " -" + std::string(200, '7'), true, {1908874353, -1908874353}},
  };
  for (const LineCase& c : cases) {
    Point point;
    EXPECT_EQ(parse_point_line(c.piece, point), c.is_point) << c.piece;
    if (c.is_point) {
      EXPECT_EQ(point, c.point) << c.piece;
    }
  }
}

// Random pieces over the characters that matter to "%d%d", a line feed only
// at the end as in every piece, with digit runs short enough to stay in
// range, checked against the C library.
TEST(PointLine, AgreesWithSscanfOnRandomPieces) {
  static const char kAlphabet[] = "0123456789+- \t\v\f\r\0a.,x";
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> length_of(0, 24);
  std::uniform_int_distribution<int> char_of(0, sizeof kAlphabet - 2);
  int points_seen = 0;
  for (int round = 0; round < 1'000'000; ++round) {
    std::string piece = random_text(random, kAlphabet, char_of, length_of(random));
    if (round % 2 == 0) piece.push_back('\n');
    int x = 0;
    int y = 0;
    const bool expected = std::sscanf(piece.c_str(), "%d%d", &x, &y) == 2;
    Point point;
    const bool got = parse_point_line(piece, point);
    ASSERT_EQ(got, expected) << "piece of " << piece.size() << " bytes, round " << round;
    if (expected) {
      ASSERT_EQ(point, (Point{x, y})) << "round " << round;
      ++points_seen;
    }
  }
  EXPECT_GT(points_seen, 10'000);  // the alphabet really produces points
}

// The line classifier the reader uses, with its fast road for short lines of
// digits and blanks, against sscanf on random lines; the bytes after each
// line are random too, since the classifier may read them and must ignore
// them.
TEST(PointLine, LineClassifierAgreesWithSscanfWhateverFollowsTheLine) {
  static const char kAlphabet[] = "0123456789012345678901234567890123456789      +-\t\v\r\0a.";
  std::mt19937 random(31337);
  std::uniform_int_distribution<int> length_of(0, 20);
  std::uniform_int_distribution<int> char_of(0, sizeof kAlphabet - 2);
  std::uniform_int_distribution<int> byte_of(0, 255);
  int points_seen = 0;
  for (int round = 0; round < 1'000'000; ++round) {
    std::string line = random_text(random, kAlphabet, char_of, length_of(random));
    std::string buffer = line + '\n';
    for (int i = 0; i < 64; ++i) buffer.push_back(static_cast<char>(byte_of(random)));
    int x = 0;
    int y = 0;
    const bool expected = std::sscanf(line.c_str(), "%d%d", &x, &y) == 2;
    Point point;
    const char* begin = buffer.data();
    const bool got = classify_line(begin, begin + line.size(), begin + buffer.size(), point);
    ASSERT_EQ(got, expected) << "round " << round << ": \"" << line << '"';
    if (expected) {
      ASSERT_EQ(point, (Point{x, y})) << "round " << round << ": \"" << line << '"';
      ++points_seen;
    }
  }
  EXPECT_GT(points_seen, 100'000);
}

}  // namespace
}  // namespace trailavi
