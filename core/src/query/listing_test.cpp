#include "query/listing.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/index_test_helpers.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using testing::is_ok;
using Ids = std::vector<std::string>;

class Listing : public testing::VaultTest {
 protected:
  void SetUp() override {
    VaultTest::SetUp();
    add("top", "", {"#Work"});
    add("proj", "projects/", {"work"});
    add("deep", "projects/2024/", {"other", "#"});
    add("caps", "Projects/", {});
  }

  void add(const std::string& id, const std::string& folder, std::vector<std::string> tags) {
    Note note = testing::note_in(*vault, id, "Title " + id);
    note.path = tv.notes() / (folder + id + ".md");
    note.frontmatter.tags = std::move(tags);
    note.frontmatter.updated = "2024-05-01T10:00:0" + std::to_string(count++) + "+00:00";
    ASSERT_TRUE(is_ok(index_note(*vault, note)));
  }

  Ids ids(std::optional<std::string> folder, std::optional<std::string> tag, std::optional<std::uint64_t> limit = {}) {
    auto rows = list_notes(*vault, folder, tag, limit);
    EXPECT_TRUE(is_ok(rows));
    Ids out;
    if (rows)
      for (const NoteListItem& row : *rows) out.push_back(row.id);
    return out;
  }

  int count = 0;
};

TEST_F(Listing, EveryLiveNoteNewestFirst) {
  EXPECT_EQ(ids({}, {}), (Ids{"caps", "deep", "proj", "top"}));
  auto rows = list_notes(*vault, {}, {}, 1);
  ASSERT_TRUE(is_ok(rows));
  EXPECT_EQ(rows->front().path, "notes/Projects/caps.md");
  EXPECT_EQ(ids({}, {}, 0), Ids{});
  EXPECT_EQ(ids({}, {}, 99).size(), 4u);
  ASSERT_TRUE(is_ok(mark_note_deleted(*vault, "caps")));
  EXPECT_EQ(ids({}, {}), (Ids{"deep", "proj", "top"}));
}

TEST_F(Listing, FolderSpellingsSelectTheSameNotesExactly) {
  for (std::string folder : {"projects/2024", "projects\\2024", "/projects/2024/", "projects/./2024"})
    EXPECT_EQ(ids(folder, {}), Ids{"deep"}) << folder;
  EXPECT_EQ(ids("projects", {}), Ids{"proj"});
  EXPECT_EQ(ids("Projects", {}), Ids{"caps"});
  EXPECT_EQ(ids("", {}), Ids{"top"});
  EXPECT_EQ(ids("/", {}), Ids{"top"});
}

TEST_F(Listing, TagSpellingsSelectTheSameNotes) {
  for (std::string tag : {"#Work", "WORK", "work", "##work", " work "})
    EXPECT_EQ(ids({}, tag), (Ids{"proj", "top"})) << tag;
  EXPECT_EQ(ids({}, "#"), Ids{"deep"});
  EXPECT_EQ(ids({}, "  ").size(), 4u);
  EXPECT_EQ(ids("projects", "work"), Ids{"proj"});
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET tags_json = '{\"work\":1}' WHERE id = 'proj'")));
  EXPECT_EQ(ids({}, "work"), Ids{"top"});
}

}  // namespace
}  // namespace core
