#include "base/text.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(Text, TrimDropsUnicodeWhiteSpaceOnBothEnds) {
  struct Case { std::string_view in, want; };
  for (const Case& c : {Case{"", ""}, Case{"  a ", "a"}, Case{"a b", "a b"}, Case{"\t\r\n a\v\f", "a"},
                        Case{"\u00A0\u3000x\u2028\u200A", "x"}, Case{"\u0085", ""},
                        Case{"\uFEFFa\uFEFF", "\uFEFFa\uFEFF"}, Case{"\u200Bx", "\u200Bx"}})
    EXPECT_EQ(trim(c.in), c.want) << "in: '" << c.in << "'";
  EXPECT_EQ(trim_start("  a  "), "a  ");
}

TEST(Text, SplitWordsAtRunsOfWhiteSpace) {
  auto words = split_words("  #a\u00A0\u00A0b\tc  ");
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[0], "#a");
  EXPECT_EQ(words[1], "b");
  EXPECT_EQ(words[2], "c");
  EXPECT_TRUE(split_words(" \u3000 ").empty());
}

TEST(Text, AsciiFoldingLeavesOtherLettersAlone) {
  EXPECT_EQ(ascii_lower("AbC\xC3\x84"), "abc\xC3\x84");
  EXPECT_TRUE(ascii_iequals("Plan", "pLAN"));
  EXPECT_FALSE(ascii_iequals("\xC3\x84", "\xC3\xA4"));
  EXPECT_FALSE(ascii_iequals("a", "ab"));
}

TEST(Text, UnicodeLowerUsesFullCaseMapping) {
  EXPECT_EQ(unicode_lower("\xC3\x84pfel"), "\xC3\xA4pfel");
  EXPECT_EQ(unicode_lower("\u0130"), "i\u0307");             // dotted capital I: two code points
  EXPECT_EQ(unicode_lower("\u039F\u0394\u039F\u03A3"), "\u03BF\u03B4\u03BF\u03C2");  // final sigma
  EXPECT_EQ(unicode_lower("\xFF"), "\xFF");                   // invalid UTF-8 unchanged
}

TEST(Text, Utf8Validation) {
  EXPECT_TRUE(is_valid_utf8("plain \u00E9 \U0001F600"));
  EXPECT_FALSE(is_valid_utf8("\xC3"));
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));      // overlong
  // ASCII is skipped in blocks of eight bytes: a bad or a good sequence at
  // every offset around a block's edges, in texts of every length near one.
  for (std::size_t before = 0; before <= 17; ++before) {
    for (std::size_t after = 0; after <= 9; ++after) {
      const std::string pad_before(before, 'a'), pad_after(after, 'b');
      EXPECT_TRUE(is_valid_utf8(pad_before + "\xC3\xA4" + pad_after)) << before << ' ' << after;
      EXPECT_TRUE(is_valid_utf8(pad_before + pad_after)) << before << ' ' << after;
      for (std::string_view bad : {"\xC3", "\xFF", "\xED\xA0\x80", "\xE2\x82"})
        EXPECT_FALSE(is_valid_utf8(pad_before + std::string(bad) + pad_after)) << before << ' ' << after;
    }
  }
}

// One replacement for each maximal ill-formed piece: the paths the index
// stores and the paths the configuration shows repair a text alike.
TEST(Text, LossyUtf8ReplacesEachIllFormedPieceOnce) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case { std::string in, out; };
  for (const Case& c : {Case{"plain", "plain"}, Case{"v\xFE", "v" + r}, Case{"a\xE2\x82", "a" + r},
                        Case{"\xE2\x82\xAC", "\xE2\x82\xAC"}, Case{"\xED\xA0\x80", r + r + r},
                        Case{"\xF0\x9F\x98x", r + "x"}, Case{"\xC0\xAF", r + r}, Case{"\x80\x80", r + r},
                        Case{"", ""}})
    EXPECT_EQ(lossy_utf8(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace core
