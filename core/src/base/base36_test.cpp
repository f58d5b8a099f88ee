#include "base/base36.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace core {
namespace {

// The plain long division, one byte at a time: what base36 must agree with.
std::string reference(std::vector<unsigned char> n) {
  constexpr std::string_view digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string out;
  for (;;) {
    bool zero = true;
    for (unsigned char b : n) zero = zero && b == 0;
    if (zero) break;
    unsigned remainder = 0;
    for (unsigned char& b : n) {
      const unsigned value = remainder * 256 + b;
      b = static_cast<unsigned char>(value / 36);
      remainder = value % 36;
    }
    out.push_back(digits[remainder]);
  }
  return {out.rbegin(), out.rend()};
}

TEST(Base36, SmallNumbersAndEdges) {
  struct Case { std::vector<unsigned char> bytes; std::string_view want; };
  for (const Case& c : {Case{{}, ""}, Case{{0, 0, 0}, ""}, Case{{1}, "1"}, Case{{35}, "z"}, Case{{36}, "10"},
                        Case{{0, 0, 1, 0}, "74"}, Case{{0xff, 0xff, 0xff, 0xff}, "1z141z3"},
                        // 36^6 and 36^6 - 1: the edges of one six-digit chunk
                        Case{{0x81, 0xbf, 0x10, 0x00}, "1000000"}, Case{{0x81, 0xbf, 0x0f, 0xff}, "zzzzzz"}})
    EXPECT_EQ(base36(c.bytes), c.want);
}

// Every length from 1 to 70 bytes (so every way the bytes fill 32-bit
// limbs), random values and values with long runs of zero and 0xff bytes.
TEST(Base36, AgreesWithPlainLongDivision) {
  std::mt19937 random(7);
  for (std::size_t size = 1; size <= 70; ++size) {
    for (int round = 0; round < 40; ++round) {
      std::vector<unsigned char> bytes(size);
      for (unsigned char& b : bytes) {
        switch (round % 4) {
          case 0: b = static_cast<unsigned char>(random()); break;
          case 1: b = random() % 3 == 0 ? static_cast<unsigned char>(random()) : 0; break;
          case 2: b = random() % 3 == 0 ? static_cast<unsigned char>(random()) : 0xff; break;
          default: b = 0xff;
        }
      }
      ASSERT_EQ(base36(bytes), reference(bytes)) << "size " << size << " round " << round;
    }
  }
}

// Identifiers take a fixed number of leading digits: a digest of zeros (what
// a failed hash leaves) must still give that many, not the empty text.
TEST(Base36, DigitsAlwaysHaveTheAskedCount) {
  const std::vector<unsigned char> zero(64, 0);
  EXPECT_EQ(base36_digits(zero, 23), std::string(23, '0'));
  EXPECT_EQ(base36_digits(std::vector<unsigned char>{36}, 4), "0010");
  std::vector<unsigned char> big(64, 0xab);
  EXPECT_EQ(base36_digits(big, 32), base36(big).substr(0, 32));
  EXPECT_EQ(base36_digits(big, 0), "");
}

}  // namespace
}  // namespace core
