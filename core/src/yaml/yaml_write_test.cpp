#include "yaml/yaml_write.hpp"

#include "yaml/yaml_read.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

YamlValue text(std::string value) { return YamlValue{std::move(value)}; }

YamlValue one_entry(std::string key, YamlValue value) {
  return YamlValue{YamlValue::Mapping{{std::move(key), std::move(value)}}};
}

// What the emitted text reads back as.
YamlValue read_back(const std::string& yaml) {
  auto node = parse_yaml_document(yaml, 1);
  EXPECT_TRUE(node) << to_text(node.error());
  if (!node) return {};
  YamlBudget budget(**node);
  auto value = to_yaml_value(**node, budget);
  EXPECT_TRUE(value) << to_text(value.error());
  return value ? *value : YamlValue{};
}

// Each text in the style the layout asks for, byte for byte, and back.
TEST(YamlWrite, EachTextTakesItsStyleAndReadsBack) {
  struct Case { std::string in, want; };
  for (const Case& c : {Case{"blue", "k: blue\n"}, Case{"two words", "k: two words\n"},
                        Case{"true", "k: 'true'\n"}, Case{"0x1F", "k: '0x1F'\n"}, Case{"~", "k: '~'\n"},
                        Case{"", "k: ''\n"}, Case{"1.5", "k: '1.5'\n"}, Case{"- x", "k: '- x'\n"},
                        Case{"a: b", "k: 'a: b'\n"}, Case{"\u00e4rger \u2713", "k: \u00e4rger \u2713\n"},
                        Case{"one\ntwo", "k: |-\n  one\n  two\n"}, Case{"a\u2028b", "k: \"a\\Lb\"\n"},
                        Case{"tab\there", "k: \"tab\\there\"\n"}}) {
    auto yaml = emit_yaml(one_entry("k", text(c.in)));
    ASSERT_TRUE(yaml) << to_text(yaml.error());
    EXPECT_EQ(*yaml, c.want) << "in: '" << c.in << "'";
    EXPECT_EQ(read_back(*yaml), one_entry("k", text(c.in))) << "in: '" << c.in << "'";
  }
}

TEST(YamlWrite, OtherScalarsAndCollectionsKeepTheirPlainForms) {
  YamlValue doc{YamlValue::Mapping{
      {"empty_list", YamlValue{YamlValue::Sequence{}}},
      {"empty_map", YamlValue{YamlValue::Mapping{}}},
      {"flag", YamlValue{true}},
      {"n", YamlValue{std::int64_t{-42}}},
      {"none", YamlValue{YamlValue::Null{}}},
      {"list", YamlValue{YamlValue::Sequence{text("a"), YamlValue{std::int64_t{1}}}}},
      {"nested", one_entry("inner", text("x"))},
  }};
  auto yaml = emit_yaml(doc);
  ASSERT_TRUE(yaml) << to_text(yaml.error());
  EXPECT_EQ(*yaml,
            "empty_list: []\nempty_map: {}\nflag: true\nn: -42\nnone: null\nlist:\n- a\n- 1\nnested:\n  inner: x\n");
  EXPECT_EQ(read_back(*yaml), doc);
}

TEST(YamlWrite, InvalidUtf8IsRefusedWhole) {
  for (const YamlValue& doc : {one_entry("k", text("bad \xff")), one_entry("bad \xc3", text("v")),
                               one_entry("k", YamlValue{YamlValue::Sequence{text("ok"), text("\xed\xa0\x80")}})}) {
    auto yaml = emit_yaml(doc);
    ASSERT_FALSE(yaml) << *yaml;
    EXPECT_EQ(to_text(yaml.error()), "YAML error: text is not valid UTF-8");
  }
}

}  // namespace
}  // namespace core
