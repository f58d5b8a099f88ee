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

}  // namespace
}  // namespace core
