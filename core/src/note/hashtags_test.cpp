#include "note/hashtags.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(Hashtags, WordsStartingWithANumberSignGiveTagsOncePerLowerCaseForm) {
  using Tags = std::vector<std::string>;
  struct Case { std::string_view in; Tags want; };
  for (const Case& c : {Case{"Weekly review #planning", {"planning"}}, Case{"Plan #Work and #work", {"Work"}},
                        Case{"Sprint ##q3#draft", {"q3"}}, Case{"Issue # 4", {}}, Case{"Budget item#4", {}},
                        Case{"", {}}, Case{"#work, #a\u3000#b\u00a0#c #a", {"work,", "a", "b", "c"}},
                        Case{"#\u0130stanbul #i\u0307stanbul", {"\u0130stanbul"}},
                        Case{"#\u039f\u03a3 #\u03bf\u03c2", {"\u039f\u03a3"}}, Case{"#\uFEFFx #x", {"\uFEFFx", "x"}}})
    EXPECT_EQ(extract_hashtags(c.in), c.want) << "in: '" << c.in << "'";
}

// Full Unicode lower case decides which tags are the same, with one case
// table on every platform (the Windows build carries the same ICU release):
// capital sharp s, title-case digraphs, final sigma inside a tag, Cherokee
// (whose lower case lies far from its capitals) and Deseret beyond the BMP.
TEST(Hashtags, OneCaseMappingOnEveryPlatform) {
  using Tags = std::vector<std::string>;
  struct Case { std::string_view in; Tags want; };
  for (const Case& c : {Case{"#\u1E9E #\u00DF", {"\u1E9E"}}, Case{"#Stra\u00DFe #STRASSE", {"Stra\u00DFe", "STRASSE"}},
                        Case{"#\u01C4x #\u01C5x #\u01C6x", {"\u01C4x"}},
                        Case{"#\u03A3\u038A\u03A3\u03A5\u03A6\u039F\u03A3 #\u03C3\u03AF\u03C3\u03C5\u03C6\u03BF\u03C2", {"\u03A3\u038A\u03A3\u03A5\u03A6\u039F\u03A3"}},
                        Case{"#\u13A0\u13A1 #\uAB70\uAB71", {"\u13A0\u13A1"}},
                        Case{"#\U00010400 #\U00010428", {"\U00010400"}},
                        Case{"#\u0049 #\u0131", {"I", "\u0131"}}})  // dotless i is no lower case of I outside Turkish
    EXPECT_EQ(extract_hashtags(c.in), c.want) << "in: '" << c.in << "'";
}

}  // namespace
}  // namespace core
