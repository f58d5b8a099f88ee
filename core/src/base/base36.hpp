#pragma once
// Big unsigned integers written in base 36, as identifiers use them.

#include <cstddef>
#include <span>
#include <string>

namespace core {

// `big_endian` read as one unsigned integer, most significant byte first,
// written in base 36 (digits 0-9 then a-z) with its most significant digit
// first and no leading zeros; zero gives the empty text.
std::string base36(std::span<const unsigned char> big_endian);

// The first `count` digits of base36(big_endian) when it has that many;
// a shorter text (a small number, zero above all) is first written with
// leading zeros to `count` digits, so the result always has `count` digits.
std::string base36_digits(std::span<const unsigned char> big_endian, std::size_t count);

}  // namespace core
