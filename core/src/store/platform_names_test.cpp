// Note ids and folders as file names on the platform at hand. Windows keeps
// device names, drops a trailing dot or space and folds letter case, so a
// new note there must not get such an id, and two ids must never come to
// share one file; elsewhere those names stay ordinary files. Every
// platform must keep any Unicode name and a path past Windows's old
// 260-character limit whole.

#include "store/note_store.hpp"

#include "base/files.hpp"
#include "index/lookups.hpp"
#include "store/note_paths.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::is_ok;

// The vault a person shares with other programs: a note whose file name is
// not its id, a linked folder where links can be made, and a file that is
// not a regular file where the platform has such.
class PlatformNames : public testing::VaultTest {
 protected:
  void SetUp() override {
    VaultTest::SetUp();
    tv.write_file("notes/Hand Written.md", "---\nid: hand\ntitle: Hand\n---\nby hand");
    if (testing::links_supported()) {
      fs::create_directories(tv.root() / "elsewhere");
      fs::create_directory_symlink(tv.root() / "elsewhere", tv.notes() / "linked");
    }
    testing::make_named_pipe(tv.notes() / "pipe.md");
  }
  Result<UpsertNoteResult> upsert(const std::string& id, const std::string& title) {
    return upsert_note(*vault, {title, "body of " + title, id, std::nullopt, {}});
  }
  // Every name in `folder`, as UTF-8, sorted.
  std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(path_utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(PlatformNames, DeviceNamesAndTrailingDotsOrSpacesAreRefusedOnlyWhereTheyCannotBeFiles) {
  struct Case { std::string id, why; };
  for (const Case& c : {Case{"con", "Windows keeps the name con for a device"},
                        Case{"NUL", "Windows keeps the name NUL for a device"},
                        Case{"aux.notes", "Windows keeps the name aux for a device"},
                        Case{"com1", "Windows keeps the name com1 for a device"},
                        Case{"ends-with-dot.", "Windows drops a dot or space at the end of a file name"}}) {
    const auto before = tv.files();
    auto made = upsert(c.id, "T");
    if (kWindowsNames) {
      ASSERT_FALSE(made) << c.id;
      EXPECT_EQ(to_text(made.error()), "invalid note id: " + c.id + " (" + c.why + ")");
      EXPECT_EQ(tv.files(), before) << c.id;
    } else {
      ASSERT_TRUE(is_ok(made)) << c.id;
      EXPECT_EQ(made->id, c.id);
      EXPECT_TRUE(fs::is_regular_file(tv.notes() / utf8_path(c.id + ".md"))) << c.id;
    }
  }
  // A folder Windows would rename or take for a device is refused the same way.
  ASSERT_TRUE(is_ok(upsert("mover", "Mover")));
  // (An id never ends in a space: ids are trimmed.)
  for (const std::string folder : {"projects./x", "a/nul", "spaced /x"}) {
    auto moved = move_note(*vault, "mover", folder);
    EXPECT_EQ(is_ok(moved), !kWindowsNames) << folder;
    if (kWindowsNames && !moved) {
      EXPECT_TRUE(to_text(moved.error()).starts_with("invalid folder: " + folder + " (")) << folder;
    }
  }
}

// NTFS folds case: notes/Alpha.md is alpha.md. The new id is refused with
// the reason, and note alpha keeps its file; where case counts, Alpha is a
// note of its own beside alpha.
TEST_F(PlatformNames, IdsThatDifferOnlyInCaseNeverShareAFile) {
  ASSERT_TRUE(is_ok(upsert("alpha", "First")));
  const auto before = tv.files();
  auto second = upsert("Alpha", "Second");
  if (kWindowsNames) {
    ASSERT_FALSE(second);
    EXPECT_EQ(to_text(second.error()),
              "the file notes/Alpha.md holds note alpha, not note Alpha (Windows file names ignore letter case)");
    EXPECT_EQ(tv.files(), before);
    EXPECT_EQ(get_note(*vault, "alpha")->frontmatter.title, "First");
  } else {
    ASSERT_TRUE(is_ok(second));
    EXPECT_EQ(get_note(*vault, "alpha")->frontmatter.title, "First");
    EXPECT_EQ(get_note(*vault, "Alpha")->frontmatter.title, "Second");
  }
}

// A Unicode id and folder are the file's and folder's own names on disk,
// not their bytes read in some code page, and read back whole.
TEST_F(PlatformNames, UnicodeIdsAndFoldersAreTheNamesOnDisk) {
  const std::string id = "caf\xC3\xA9-\xE2\x82\xAC-\xF0\x9F\x93\x9D";  // café-€-📝
  const std::string folder = "\xC3\x9C" "bersicht";                        // Übersicht
  ASSERT_TRUE(is_ok(upsert(id, "Unicode")));
  EXPECT_TRUE(std::ranges::count(names_in(tv.notes()), id + ".md")) << "in notes/";
  ASSERT_TRUE(is_ok(move_note(*vault, id, folder)));
  EXPECT_EQ(names_in(tv.notes() / utf8_path(folder)), std::vector<std::string>{id + ".md"});
  EXPECT_EQ(path_by_id(*vault, id).value(), "notes/" + folder + "/" + id + ".md");
  auto read = get_note(*vault, id);
  ASSERT_TRUE(is_ok(read));
  EXPECT_EQ(read->frontmatter.title, "Unicode");
  ASSERT_TRUE(is_ok(delete_note(*vault, id)));
  EXPECT_TRUE(names_in(tv.notes() / utf8_path(folder)).empty());
}

// A note deep enough that its path passes 260 characters is written, moved,
// read and deleted like any other.
TEST_F(PlatformNames, PathsLongerThanTheOldWindowsLimitWork) {
  const std::string piece(60, 'd');
  const std::string folder = piece + "/" + piece + "/" + piece + "/" + piece + "/" + piece;
  ASSERT_TRUE(is_ok(upsert("deep", "Deep")));
  ASSERT_TRUE(is_ok(move_note(*vault, "deep", folder)));
  const fs::path file = tv.notes() / utf8_path(folder) / "deep.md";
  EXPECT_GT(file.native().size(), 260u);
  EXPECT_TRUE(entry_exists(file));
  ASSERT_TRUE(is_ok(upsert("deep", "Deeper")));
  EXPECT_EQ(get_note(*vault, "deep")->frontmatter.title, "Deeper");
  ASSERT_TRUE(is_ok(delete_note(*vault, "deep")));
  EXPECT_FALSE(entry_exists(file));
}

}  // namespace
}  // namespace core
