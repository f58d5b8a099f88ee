#include "links/link_rewrite.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(LinkRewrite, ReplacesMatchingTitleLinksOnly) {
  struct Case { std::string_view body, old_title, new_title, want; size_t replaced; };
  const Case cases[] = {
      {"See [[ plan ]], [[PLAN]] and [[Plan|x]].", "Plan", "Project plan",
       "See [[Project plan]], [[Project plan]] and [[Plan|x]].", 2},
      {"[[Plan]]]", "Plan", "Goal", "[[Goal]]]", 1},
      {"[[[[Plan]]", "Plan", "Goal", "[[[[Plan]]", 0},
      {"```\n[[Plan]]\n```\n", "Plan", "Goal", "```\n[[Goal]]\n```\n", 1},
      {"a [[Plan]] b\n[[plan]]\tc [[PLAN]] \xC3\xA4", "Plan", "Goal", "a [[Goal]] b\n[[Goal]]\tc [[Goal]] \xC3\xA4", 3},
      {"[[Plan]] tolvane://plan0000 [[Planning]]", " Plan\t", "\u00A0Goal ", "[[Goal]] tolvane://plan0000 [[Planning]]",
       1},
      {"[[Plan]]", "Plan", "a]]b", "[[a]]b]]", 1},
      {"[[\xC3\x84pfel]]", "\xC3\xA4pfel", "Birnen", "[[\xC3\x84pfel]]", 0},
      {"no links here", "Plan", "Goal", "no links here", 0},
  };
  for (const Case& c : cases) {
    auto out = rewrite_links(c.body, c.old_title, c.new_title);
    EXPECT_EQ(out.body, c.want) << "body: '" << c.body << "' old: '" << c.old_title << "'";
    EXPECT_EQ(out.replaced, c.replaced) << "body: '" << c.body << "'";
  }
}

TEST(LinkRewrite, CaseOnlyOrBlankRenamesChangeNothing) {
  const std::string_view body = "[[Plan]] [[plan]]";
  struct Case { std::string_view old_title, new_title; };
  for (const Case& c : {Case{"Plan", "PLAN"}, Case{"Plan", "  plan\t"}, Case{"", "Goal"}, Case{"Plan", " \u3000"},
                        Case{" ", " "}}) {
    auto out = rewrite_links(body, c.old_title, c.new_title);
    EXPECT_EQ(out.body, body) << "old: '" << c.old_title << "' new: '" << c.new_title << "'";
    EXPECT_EQ(out.replaced, 0u);
  }
}

}  // namespace
}  // namespace core
