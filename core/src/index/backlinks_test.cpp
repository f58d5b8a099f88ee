#include "index/backlinks.hpp"

#include "index/index_test_helpers.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"
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
  // Asks with the link-title index and with the scan the vault falls back
  // to without it; both must give the same ids.
  std::vector<std::string> sources(std::string_view id, std::string_view title) {
    EXPECT_TRUE(vault->link_titles_indexed);
    auto list = linking_sources(*vault, id, title);
    vault->link_titles_indexed = false;
    auto scanned = linking_sources(*vault, id, title);
    vault->link_titles_indexed = true;
    EXPECT_TRUE(is_ok(list));
    EXPECT_TRUE(is_ok(scanned));
    EXPECT_EQ(list.value_or(std::vector<std::string>{}), scanned.value_or(std::vector<std::string>{})) << title;
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

TEST_F(Backlinks, LinkingSourcesByRowsOfEveryShape) {
  add("target01", "Plan");
  add("src00001", "One");
  // Rows as other programs may leave them: a title named by a link resolved
  // elsewhere, no title at all, the note's own link, both ways in one note.
  for (const char* row : {"('l1', 'src00001', 'other001', ' plan ', 'wiki', 0)",
                          "('l2', 'src00002', NULL, NULL, 'uri', 1)",
                          "('l3', 'target01', 'target01', 'Plan', 'wiki', 0)",
                          "('l4', 'src00003', 'target01', 'Plan', 'wiki', 0)",
                          "('l5', 'src00003', NULL, 'PLAN', 'wiki', 1)",
                          "('l6', 'src00004', NULL, '', 'wiki', 1)"}) {
    ASSERT_TRUE(is_ok(run_statement(vault->db(), "PRAGMA foreign_keys = OFF")));
    ASSERT_TRUE(is_ok(run_statement(vault->db(), std::string("INSERT INTO links VALUES ") + row)));
  }
  EXPECT_EQ(sources("target01", "Plan"), (Texts{"src00001", "src00003"}));
  EXPECT_EQ(sources("target01", "  "), (Texts{"src00002", "src00003", "src00004"}));
  EXPECT_EQ(sources("other001", "nothing"), (Texts{"src00001"}));
  EXPECT_TRUE(sources("nowhere", "nothing").empty());
}

}  // namespace
}  // namespace core
