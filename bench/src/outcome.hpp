#pragma once
// The benchmark's error values: a value or the text that says what failed.
// The driver is a program of its own and does not use the core's error kinds.

#include <expected>
#include <string>

namespace bench {

template <class T>
using Outcome = std::expected<T, std::string>;

inline std::unexpected<std::string> failure(std::string text) { return std::unexpected(std::move(text)); }

}  // namespace bench
