#include "yaml/yaml_read.hpp"

#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace core {
namespace {

using testing::is_ok;

TEST(YamlRead, TheRootKnowsWhetherTheDocumentHoldsAnAlias) {
  struct Case { std::string text; bool aliases; };
  for (const Case& c : {Case{"a: 1\nb: [x, {y: z}]\n", false}, Case{"a: &x 1\nb: 2\n", false},
                        Case{"a: &x 1\nb: *x\n", true}, Case{"a: &x 1\nb: [c, {d: [*x]}]\n", true},
                        Case{"- &x [1]\n- *x\n", true}}) {
    auto root = parse_yaml_document(c.text, 1);
    ASSERT_TRUE(is_ok(root)) << c.text;
    EXPECT_EQ((*root)->holds_alias, c.aliases) << c.text;
  }
}

// The budget's message speaks of aliases only when the document has any.
TEST(YamlRead, ABudgetSpentSaysWhy) {
  auto root = parse_yaml_document("a: &x 1\nb: *x\n", 3);
  ASSERT_TRUE(is_ok(root));
  YamlNode plain = **root;
  plain.holds_alias = false;
  const YamlNode& value = *(*root)->children[1];
  struct Case { const YamlNode* document; std::string want; };
  for (const Case& c : {Case{root->get(), "YAML error: value at line 3 column 4 is too large after resolving aliases"},
                        Case{&plain, "YAML error: value at line 3 column 4 is too large (more than 16 MiB in all)"}}) {
    YamlBudget budget(*c.document);
    EXPECT_TRUE(is_ok(budget.spend(value, (std::size_t{16} << 20) - 1024)));
    auto spent = budget.spend(value, 1024);
    ASSERT_FALSE(spent);
    EXPECT_EQ(to_text(spent.error()), c.want);
    EXPECT_FALSE(budget.spend(value, 0));  // once spent, nothing more goes
  }
  YamlBudget budget(**root);
  auto whole = to_yaml_value(**root, budget);
  ASSERT_TRUE(is_ok(whole));
}

// The budget is exactly 16 MiB: a first value costing all of it goes, a
// byte more does not, and after the whole is spent not even an empty value
// goes.
TEST(YamlRead, TheBudgetIsSpentToTheByte) {
  auto root = parse_yaml_document("a: 1\n", 1);
  ASSERT_TRUE(is_ok(root));
  const YamlNode& value = **root;
  const std::size_t whole = (std::size_t{16} << 20) - sizeof(YamlValue);  // text bytes of one value costing it all
  struct Case { std::vector<std::size_t> charges; bool last_goes; };
  for (const Case& c : {Case{{whole}, true}, Case{{whole + 1}, false}, Case{{whole, 0}, false},
                        Case{{whole / 2, whole / 2 - sizeof(YamlValue)}, true},
                        Case{{whole / 2, whole / 2 - sizeof(YamlValue) + 1}, false}}) {
    YamlBudget budget(value);
    for (std::size_t i = 0; i + 1 < c.charges.size(); ++i) ASSERT_TRUE(is_ok(budget.spend(value, c.charges[i])));
    EXPECT_EQ(budget.spend(value, c.charges.back()).has_value(), c.last_goes) << c.charges.back();
  }
}

}  // namespace
}  // namespace core
