#include "commands/shown_path.hpp"

#include <gtest/gtest.h>

#include <string>

namespace mcp {
namespace {

// Reads the printed form back, to show that nothing is lost.
std::string read_back(std::string_view shown) {
  std::string bytes;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] != '\\') {
      bytes += shown[i];
    } else if (shown[i + 1] == '\\') {
      bytes += '\\';
      ++i;
    } else {
      bytes += static_cast<char>(std::stoi(std::string(shown.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    }
  }
  return bytes;
}

TEST(ShownPath, OddBytesAreEscapedAndReadBackWhole) {
  struct Case { std::string bytes, shown; };
  for (const Case& c : {Case{"/home/me/vault", "/home/me/vault"},
                        Case{"/v\xfe/notes", "/v\\xFE/notes"},
                        Case{"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9d", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9d"},
                        Case{"caf\xe9.md", "caf\\xE9.md"},                       // Latin-1
                        Case{"a\\xFE", "a\\\\xFE"},                              // looks like an escape
                        Case{"line\nbreak\x7f", "line\\x0Abreak\\x7F"},
                        Case{"\xc0\xaf \xed\xa0\x80 \xe2\x82", "\\xC0\\xAF \\xED\\xA0\\x80 \\xE2\\x82"}}) {  // overlong, surrogate, cut
    EXPECT_EQ(shown_text(c.bytes), c.shown);
    EXPECT_EQ(read_back(shown_text(c.bytes)), c.bytes) << c.shown;
  }
#ifdef _WIN32
  // The separator is shown as it is, and the UTF-16 name as UTF-8.
  EXPECT_EQ(shown_path(std::filesystem::path(L"C:\\v\\caf\u00e9\\x")), "C:\\v\\caf\xc3\xa9\\x");
#else
  EXPECT_EQ(shown_path(std::filesystem::path("/v\xfe")), "/v\\xFE");
#endif
}

}  // namespace
}  // namespace mcp
