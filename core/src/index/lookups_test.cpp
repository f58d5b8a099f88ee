#include "index/lookups.hpp"

#include "index/index_test_helpers.hpp"
#include "index/indexer.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::note_in;

class Lookups : public testing::VaultTest {
 protected:
  void add(std::string id, std::string title) {
    ASSERT_TRUE(is_ok(index_note(*vault, note_in(*vault, std::move(id), std::move(title)))));
  }
  void remove(std::string_view id) { ASSERT_TRUE(is_ok(mark_note_deleted(*vault, id))); }

};

TEST_F(Lookups, DeletedNotesAreInvisible) {
  add("n1", "Alpha");
  add("n2", "Gone");
  remove("n2");
  EXPECT_EQ(*path_by_id(*vault, "n1"), "notes/n1.md");
  EXPECT_EQ(*title_by_id(*vault, "n1"), "Alpha");
  EXPECT_EQ(*path_by_id(*vault, "n2"), std::nullopt);
  EXPECT_EQ(*title_by_id(*vault, "n2"), std::nullopt);
  EXPECT_EQ(*id_by_title(*vault, "Gone"), std::nullopt);
  EXPECT_EQ(*path_by_id(*vault, "nobody"), std::nullopt);
}

TEST_F(Lookups, IdByTitleFoldsOnlyAsciiCaseAndOuterSpaces) {
  add("upper", "ALPHA");
  add("tabbed", "\tBeta");
  add("umlaut", "\xC3\xA4pfel");  // äpfel
  add("twin1", "Twin");
  add("twin2", " twin ");
  add("old", "Single");
  remove("old");
  add("live", "single");
  struct Case { std::string_view title; std::optional<std::string> want; };
  for (const Case& c : {Case{"  Alpha ", "upper"}, Case{"alpha", "upper"}, Case{"Alpha\t", std::nullopt},
                        Case{"Beta", std::nullopt}, Case{"\tbeta", "tabbed"},
                        Case{"\xC3\xA4pfel", "umlaut"}, Case{"\xC3\x84pfel", std::nullopt},  // Äpfel
                        Case{"twin", std::nullopt}, Case{"SINGLE", "live"}, Case{"", std::nullopt}}) {
    auto got = id_by_title(*vault, c.title);
    ASSERT_TRUE(is_ok(got));
    EXPECT_EQ(*got, c.want) << "title: '" << c.title << "'";
  }
}

}  // namespace
}  // namespace core
