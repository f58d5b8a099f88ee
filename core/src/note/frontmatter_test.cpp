#include "note/frontmatter.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(Frontmatter, ReadsEveryFieldAndKeepsTheRest) {
  auto fm = read_frontmatter(
      "id: 007\ntitle: 'true'\ntags:\n- '#a'\n- b\nmetas:\n  due: 2024-06-01\n  due: today\n  n: 3\n"
      "workspace_id: ~\ncreated_at:\nupdated: 2024-05-28\npinned: true\npinned: false\n",
      2);
  ASSERT_TRUE(fm) << to_text(fm.error());
  EXPECT_EQ(fm->id, "007");  // any scalar, as its characters
  EXPECT_EQ(fm->title, "true");
  EXPECT_EQ(fm->tags, (std::vector<std::string>{"#a", "b"}));
  EXPECT_EQ(fm->metas, (std::map<std::string, std::string>{{"due", "today"}, {"n", "3"}}));
  EXPECT_EQ(fm->workspace_id, std::nullopt);
  EXPECT_EQ(fm->created_at, std::nullopt);
  EXPECT_EQ(fm->updated, "2024-05-28");
  ASSERT_EQ(fm->extra.size(), 1u);
  EXPECT_EQ(fm->extra.at("pinned"), YamlValue{false});  // a repeated extra key keeps its last value
}

TEST(Frontmatter, TagsAndMetasMayBeEmptyAfterTheirKey) {
  auto fm = read_frontmatter("id: a\ntitle: T\ntags:\nmetas:\nworkspace_id: 'null'\nupdated: U\n", 1);
  ASSERT_TRUE(fm) << to_text(fm.error());
  EXPECT_TRUE(fm->tags.empty());
  EXPECT_TRUE(fm->metas.empty());
  EXPECT_EQ(fm->workspace_id, "null");  // quoted: a text, not none
}

TEST(Frontmatter, RefusalsNameTheFieldAndWhere) {
  struct Case { std::string_view yaml, want; };
  for (const Case& c : {Case{"title: T\nupdated: U\n", "YAML error: missing field `id`"},
                        Case{"id: a\ntitle: T\n", "YAML error: missing field `updated`"},
                        Case{"id: a\ntitle: T\ntitle: U\nupdated: U\n", "YAML error: duplicate field `title`"},
                        Case{"- a\n- b\n", "YAML error: frontmatter is not a mapping at line 3 column 1"},
                        Case{"id: a\ntitle: T\nupdated: U\ntags: x\n",
                             "YAML error: invalid type for field `tags`: expected a sequence, found a scalar at line 6 "
                             "column 7"}}) {
    auto fm = read_frontmatter(c.yaml, 3);
    ASSERT_FALSE(fm) << c.yaml;
    EXPECT_EQ(to_text(fm.error()), c.want) << c.yaml;
  }
}

// Fields first in a fixed order, then extras by key; an extra that bears a
// field's name is left out, so the text always reads back as it was.
TEST(Frontmatter, WritesInOrderAndReadsBack) {
  NoteFrontmatter fm;
  fm.id = "m4x8q2v7c1n9b3k6z0p5w2ty";
  fm.title = "Plan: 2024";
  fm.tags = {"plan"};
  fm.metas = {{"status", "no"}, {"due", "2024-06-01"}};
  fm.workspace_id = "home";
  fm.updated = "2024-05-28T09:30:12.500+00:00";
  fm.extra = {{"zeta", YamlValue{std::int64_t{1}}}, {"alpha", YamlValue{std::string("x")}},
              {"title", YamlValue{std::string("shadow")}}};
  auto text = write_frontmatter(fm);
  ASSERT_TRUE(text) << to_text(text.error());
  EXPECT_EQ(*text,
            "id: m4x8q2v7c1n9b3k6z0p5w2ty\ntitle: 'Plan: 2024'\ntags:\n- plan\nmetas:\n  due: 2024-06-01\n"
            "  status: no\nworkspace_id: home\nupdated: 2024-05-28T09:30:12.500+00:00\nalpha: x\nzeta: 1\n");
  auto back = read_frontmatter(*text, 2);
  ASSERT_TRUE(back) << to_text(back.error());
  NoteFrontmatter want = fm;
  want.extra.erase("title");
  EXPECT_EQ(*back, want);
}

}  // namespace
}  // namespace core
