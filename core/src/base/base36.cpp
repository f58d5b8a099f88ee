#include "base/base36.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace core {
namespace {

constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
// 36^6, the largest power of 36 below 2^32: one division of the whole
// number by it yields six digits, and a 32-bit limb with a remainder below
// it fits a 64-bit dividend.
constexpr std::uint64_t kChunk = 2176782336;
constexpr int kChunkDigits = 6;

}  // namespace

std::string base36(std::span<const unsigned char> big_endian) {
  // 32-bit limbs, most significant first; a short leading limb takes the
  // bytes that do not fill a whole one.
  std::vector<std::uint32_t> limbs((big_endian.size() + 3) / 4, 0);
  const std::size_t lead = big_endian.size() % 4 == 0 ? 4 : big_endian.size() % 4;
  std::size_t limb = 0, filled = 0, width = lead;
  for (unsigned char byte : big_endian) {
    limbs[limb] = (limbs[limb] << 8) | byte;
    if (++filled == width) {
      ++limb;
      filled = 0;
      width = 4;
    }
  }

  std::string out;  // least significant digit first
  std::size_t first = 0;  // limbs before it are zero
  for (;;) {
    while (first < limbs.size() && limbs[first] == 0) ++first;
    if (first == limbs.size()) break;
    std::uint64_t remainder = 0;
    for (std::size_t i = first; i < limbs.size(); ++i) {
      const std::uint64_t value = (remainder << 32) | limbs[i];
      limbs[i] = static_cast<std::uint32_t>(value / kChunk);
      remainder = value % kChunk;
    }
    for (int d = 0; d < kChunkDigits; ++d) {
      out.push_back(kDigits[remainder % 36]);
      remainder /= 36;
    }
  }
  while (!out.empty() && out.back() == '0') out.pop_back();  // the last chunk's padding
  std::reverse(out.begin(), out.end());
  return out;
}

std::string base36_digits(std::span<const unsigned char> big_endian, std::size_t count) {
  std::string digits = base36(big_endian);
  if (digits.size() < count) digits.insert(0, count - digits.size(), '0');
  digits.resize(count);
  return digits;
}

}  // namespace core
