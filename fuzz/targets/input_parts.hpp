#pragma once
// Splits one fuzz input into the texts a target needs: the parts are separated
// by NUL bytes, and a missing part is empty, so every input is usable.

#include <cstddef>
#include <cstdint>
#include <string_view>

class InputParts {
 public:
  InputParts(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  // The text up to the next NUL (or the end), consumed.
  std::string_view next() {
    const std::size_t nul = rest_.find('\0');
    const std::string_view part = rest_.substr(0, nul);
    rest_ = nul == std::string_view::npos ? std::string_view{} : rest_.substr(nul + 1);
    return part;
  }

 private:
  std::string_view rest_;
};
