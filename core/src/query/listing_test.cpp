#include "query/listing.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/index_test_helpers.hpp"
#include "index/sqlite.hpp"
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

// Folder listings read a range of paths plus the oddly spelled ones; they
// must give what the walk over every live row gives (the fallback without
// the partial index), rows and order, whatever the stored paths look like.
TEST_F(Listing, FolderRangesGiveWhatTheFullWalkGives) {
  const char* paths[] = {"notes/a/x1.md",     "notes/a/x2.md",   "notes/a/b/x3.md",   "notes/a/b/c/x4.md",
                         "notes/a//x5.md",    "notes/./a/x6.md", "./notes/a/x7.md",   "notes\\a\\x8.md",
                         "notes/a/./x9.md",   "notes/a/../x10.md", "a/x11.md",        "notes/a.md/x12.md",
                         "notes/a-b/x13.md",  "notes/a0/x14.md", "notes/a/b0.md",     "notes/x15.md",
                         "notes/a/.\\/x16.md", "notes/a/..x17.md", "notes/ab/x18.md", "notes/a/b/../x19.md",
                         "notes/a/\xC3\xA9/x20.md", "notes/a/x21.md", "notes/a/x22.md", "x23.md"};
  int n = 0;
  for (const char* path : paths) {
    // Three updated_at values only, so that many rows tie and their order
    // (by rowid) is tested too; every fifth row is deleted.
    const std::string id = "r" + std::to_string(n);
    ASSERT_TRUE(is_ok(run_statement(vault->db(),
                                    "INSERT INTO note_files (id, path, title, tags_json, updated_at, deleted_at) "
                                    "VALUES (?1, ?2, 't', ?3, ?4, ?5)",
                                    id, path, n % 2 ? "[\"k\"]" : "[]", "2024-0" + std::to_string(1 + n % 3),
                                    n % 5 == 4 ? std::optional<std::string>("x") : std::nullopt)));
    ++n;
  }
  for (const char* folder : {"a", "", "a/b", "/a/", "a\\b", "a/b/c", "ab", "a0", "missing", "a.md", "./a"})
    for (const std::optional<std::string>& tag : {std::optional<std::string>(), std::optional<std::string>("k")})
      for (const std::optional<std::uint64_t>& limit : {std::optional<std::uint64_t>(), std::optional<std::uint64_t>(2)}) {
        ASSERT_TRUE(vault->odd_paths_indexed);
        const Ids ranged = ids(folder, tag, limit);
        vault->odd_paths_indexed = false;
        const Ids walked = ids(folder, tag, limit);
        vault->odd_paths_indexed = true;
        EXPECT_EQ(ranged, walked) << "folder '" << folder << "' tag " << tag.value_or("-");
      }
  EXPECT_EQ(ids("a", {}), (Ids{"r5", "r8", "r17", "r1", "r7", "r10", "r16", "r22", "r0", "r6", "r21"}));
}

}  // namespace
}  // namespace core
