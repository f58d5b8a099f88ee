#include "index/index_db.hpp"

#include "index/index_test_helpers.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::rows;
using core::testing::TempDir;
using core::testing::TempVault;

constexpr std::string_view kSchemaObjects =
    "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' AND name NOT LIKE 'notes_fts_%' "
    "ORDER BY type, name";

TEST(OpenVault, FreshVaultGetsTheWholeSchemaInWalMode) {
  TempVault tv;
  auto vault = open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  EXPECT_EQ(vault->root, tv.root());
  EXPECT_TRUE(std::filesystem::exists(tv.root() / ".brask-tolvane" / "index.db"));
  EXPECT_EQ(rows(*vault, kSchemaObjects),
            (std::vector<std::string>{"index|idx_links_source", "index|idx_links_target",
                                      "index|idx_note_files_deleted", "index|idx_note_files_updated",
                                      "table|app_state", "table|links", "table|note_files", "table|notes_fts"}));
  EXPECT_EQ(rows(*vault, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
  EXPECT_EQ(rows(*vault, "PRAGMA foreign_keys"), std::vector<std::string>{"1"});
  EXPECT_EQ(rows(*vault, "SELECT (SELECT count(*) FROM note_files) + (SELECT count(*) FROM links) + "
                         "(SELECT count(*) FROM notes_fts) + (SELECT count(*) FROM app_state)"),
            std::vector<std::string>{"0"});
}

TEST(OpenVault, OpeningAgainChangesNothing) {
  TempVault tv;
  std::vector<std::string> schema_before;
  {
    auto vault = open_vault(tv.root());
    ASSERT_TRUE(is_ok(vault));
    ASSERT_TRUE(is_ok(exec(vault->db(), "INSERT INTO app_state VALUES ('k', 'v')")));
    schema_before = rows(*vault, "SELECT type, name, sql FROM sqlite_master ORDER BY name");
  }
  auto again = open_vault(tv.root());
  ASSERT_TRUE(is_ok(again));
  EXPECT_EQ(rows(*again, "SELECT type, name, sql FROM sqlite_master ORDER BY name"), schema_before);
  EXPECT_EQ(rows(*again, "SELECT key, value FROM app_state"), std::vector<std::string>{"k|v"});
  EXPECT_EQ(rows(*again, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST(OpenVault, MissingMarkerIsNotAVaultAndCreatesNothing) {
  TempDir dir;
  const std::filesystem::path root = dir.path() / "sub/../";  // reported as given, not normalised
  auto vault = open_vault(root);
  ASSERT_FALSE(vault);
  EXPECT_EQ(to_text(vault.error()), "not a vault: " + root.string());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(OpenVault, MarkerOfAnyKindPassesButAPlainFileCannotHoldTheIndex) {
  TempDir dir;
  std::ofstream(dir.path() / ".brask-tolvane") << "";
  auto vault = open_vault(dir.path());
  ASSERT_FALSE(vault);
  EXPECT_EQ(to_text(vault.error()).rfind("database error: ", 0), 0u) << to_text(vault.error());
}

TEST(OpenVault, IndexThatIsNotSqliteFails) {
  TempVault tv;
  tv.write_file(".brask-tolvane/index.db", std::string(4096, 'x'));
  auto vault = open_vault(tv.root());
  ASSERT_FALSE(vault);
  EXPECT_EQ(to_text(vault.error()), "database error: file is not a database");
}

TEST(OpenVault, ForeignKeysAreEnforced) {
  TempVault tv;
  auto vault = open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  auto orphan = exec(vault->db(),
                     "INSERT INTO links (id, source_id, link_type) VALUES ('l1', 'no-such-note', 'markdown')");
  ASSERT_FALSE(orphan);
  EXPECT_EQ(to_text(orphan.error()), "database error: FOREIGN KEY constraint failed");
}

}  // namespace
}  // namespace core
