#include "index/backlinks.hpp"

#include "index/index_test_helpers.hpp"
#include "index/indexer.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::note_in;

class Backlinks : public testing::VaultTest {
 protected:
  void add(std::string id, std::string title, std::string body = "") {
    ASSERT_TRUE(is_ok(index_note(*vault, note_in(*vault, std::move(id), std::move(title), std::move(body)))));
  }
  std::vector<std::string> titles_linking(std::string_view id) {
    auto list = list_backlinks(*vault, id);
    EXPECT_TRUE(is_ok(list));
    std::vector<std::string> titles;
    for (const Backlink& b : list.value_or(std::vector<Backlink>{})) titles.push_back(b.id + ":" + b.title);
    return titles;
  }
  std::vector<std::string> sources(std::string_view id, std::string_view title) {
    auto list = linking_sources(*vault, id, title);
    EXPECT_TRUE(is_ok(list));
    return list.value_or(std::vector<std::string>{});
  }

};

using Texts = std::vector<std::string>;

TEST_F(Backlinks, LiveSourcesOncePerNoteInTitleOrderNeverSelf) {
  add("early001", "gamma", "[[  PLAN  ]]");  // indexed before its target exists: stays unresolved
  add("target01", "Plan", "[[Plan]] tolvane://target01");  // links to itself: nothing stored
  add("plan0002", "plan", "[[plan]]");  // two notes hold this title now: the link stays unresolved
  add("both0001", "beta", "[[Plan]] tolvane://target01");
  add("upper001", "Alpha", "tolvane://target01");
  add("lower001", "alpha", "tolvane://target01");
  add("gone0001", "Deleted", "tolvane://target01");
  ASSERT_TRUE(is_ok(mark_note_deleted(*vault, "gone0001")));
  add("plaen001", "Pl\xC3\xA4n");
  add("umlaut01", "Other", "[[PL\xC3\x84N]]");  // only ASCII letters fold: no match for Plän

  auto listed = titles_linking("target01");
  ASSERT_EQ(listed.size(), 5u);
  EXPECT_TRUE((listed[0] == "upper001:Alpha" && listed[1] == "lower001:alpha") ||
              (listed[0] == "lower001:alpha" && listed[1] == "upper001:Alpha"))
      << listed[0] << ", " << listed[1];
  EXPECT_EQ((Texts(listed.begin() + 2, listed.end())), (Texts{"both0001:beta", "early001:gamma", "plan0002:plan"}));
  EXPECT_EQ(titles_linking("plan0002"), (Texts{"both0001:beta", "early001:gamma"}));
  EXPECT_TRUE(titles_linking("plaen001").empty());
  EXPECT_TRUE(titles_linking("nowhere").empty());
  EXPECT_EQ(sources("target01", "Plan"),
            (Texts{"both0001", "early001", "gone0001", "lower001", "plan0002", "upper001"}));
}

TEST_F(Backlinks, RetitleMovesUnresolvedLinksButKeepsResolvedOnes) {
  add("old00001", "Old ref", "[[Plan]]");
  add("new00001", "New ref", "[[ goal ]]");
  add("target01", "Plan");
  add("resolved", "Resolved", "[[Plan]]");
  EXPECT_EQ(titles_linking("target01"), (Texts{"old00001:Old ref", "resolved:Resolved"}));

  add("target01", "Goal");
  EXPECT_EQ(titles_linking("target01"), (Texts{"new00001:New ref", "resolved:Resolved"}));
  ASSERT_TRUE(is_ok(mark_note_deleted(*vault, "old00001")));
  EXPECT_EQ(sources("target01", "  PLAN "), (Texts{"old00001", "resolved"}));
  EXPECT_EQ(sources("target01", "Goal"), (Texts{"new00001", "resolved"}));  // by title or by id
}

}  // namespace
}  // namespace core
