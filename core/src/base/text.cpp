#include "base/text.hpp"

#include <unicode/ucasemap.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace core {
namespace {

// Decodes the code point at `text[i]` and advances `i`; malformed bytes
// decode as U+FFFD one byte at a time, which no white-space test matches.
char32_t next_code_point(std::string_view text, size_t& i) {
  UChar32 c = 0;
  int32_t pos = static_cast<int32_t>(i);
  U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), pos, static_cast<int32_t>(text.size()), c);
  i = static_cast<size_t>(pos);
  return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

// Length in bytes of the white space that starts at `i`, or 0.
size_t white_space_at(std::string_view text, size_t i) {
  size_t next = i;
  return is_white_space(next_code_point(text, next)) ? next - i : 0;
}

// Start of the white space that ends at `end`, or `end` itself.
size_t white_space_before(std::string_view text, size_t end) {
  if (end == 0) return end;
  size_t start = end - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && end - start < 4) --start;
  return white_space_at(text, start) == end - start ? start : end;
}

struct CloseCaseMap {
  void operator()(UCaseMap* p) const { ucasemap_close(p); }
};

}  // namespace

bool is_white_space(char32_t c) {
  switch (c) {
    case U'\t': case U'\n': case U'\v': case U'\f': case U'\r': case U' ':
    case U'\u0085': case U'\u00A0': case U'\u1680': case U'\u2028': case U'\u2029':
    case U'\u202F': case U'\u205F': case U'\u3000':
      return true;
    default:
      return c >= U'\u2000' && c <= U'\u200A';
  }
}

std::string_view trim_start(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    size_t n = white_space_at(text, i);
    if (n == 0) break;
    i += n;
  }
  return text.substr(i);
}

std::string_view trim(std::string_view text) {
  text = trim_start(text);
  size_t end = text.size();
  while (end > 0) {
    size_t start = white_space_before(text, end);
    if (start == end) break;
    end = start;
  }
  return text.substr(0, end);
}

std::vector<std::string_view> split_words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0, word_start = 0;
  while (i < text.size()) {
    size_t n = white_space_at(text, i);
    if (n == 0) {
      next_code_point(text, i);
      continue;
    }
    if (i > word_start) words.push_back(text.substr(word_start, i - word_start));
    i += n;
    word_start = i;
  }
  if (i > word_start) words.push_back(text.substr(word_start, i - word_start));
  return words;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string unicode_lower(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UCaseMap, CloseCaseMap> map(ucasemap_open("", U_FOLD_CASE_DEFAULT, &status));
  if (U_FAILURE(status) || !is_valid_utf8(text)) return std::string(text);
  // Full lower-casing can grow a text (U+0130 takes three bytes for two),
  // so ask for the size first when the first guess is short.
  std::string out(text.size() + 16, '\0');
  int32_t n = ucasemap_utf8ToLower(map.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                                   static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    out.assign(static_cast<size_t>(n), '\0');
    n = ucasemap_utf8ToLower(map.get(), out.data(), n, text.data(), static_cast<int32_t>(text.size()), &status);
  }
  if (U_FAILURE(status)) return std::string(text);
  out.resize(static_cast<size_t>(n));
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  int32_t i = 0;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto length = static_cast<int32_t>(bytes.size());
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
  while (i < length) {
    // Runs of ASCII eight bytes at a time: most of a note is ASCII.
    while (length - i >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, data + i, sizeof word);
      if (word & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i == length) break;
    UChar32 c = 0;
    U8_NEXT(data, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string lossy_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto size = static_cast<int32_t>(bytes.size());
  for (int32_t i = 0; i < size;) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(data, i, size, c);
    if (c < 0) out.append("\xEF\xBF\xBD");
    else out.append(bytes.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
  }
  return out;
}

}  // namespace core
