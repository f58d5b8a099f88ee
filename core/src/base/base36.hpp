#pragma once
// Big unsigned integers written in base 36, as identifiers use them.

#include <span>
#include <string>

namespace core {

// `big_endian` read as one unsigned integer, most significant byte first,
// written in base 36 (digits 0-9 then a-z) with its most significant digit
// first and no leading zeros; zero gives the empty text.
std::string base36(std::span<const unsigned char> big_endian);

}  // namespace core
