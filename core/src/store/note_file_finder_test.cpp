#include "store/note_file_finder.hpp"

#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::is_ok;

// Where the search finds `id`, relative to `notes`; "" when nowhere.
std::string found(const testing::TempVault& tv, std::string_view id) {
  auto path = find_note_file(tv.notes(), id);
  EXPECT_TRUE(is_ok(path));
  if (!path || !*path) return "";
  return fs::relative(**path, tv.notes()).generic_string();
}

// Sets a folder's modification time to an hour ago, as if it had not been
// touched since.
void age(const fs::path& dir) {
  timespec times[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
}

TEST(NoteFileFinder, FilesPlacedOrRemovedBetweenCallsAreSeenByTheNextCall) {
  testing::TempVault tv;
  tv.write_file("notes/a/b/deep.md", "x");
  tv.write_file("notes/top.md", "x");
  tv.write_file("notes/a/top.md", "x");
  struct Step { const char* action; const char* id; const char* want; };
  const Step steps[] = {
      {"", "deep", "a/b/deep.md"},       {"", "top", "top.md"},  // a folder's own file first
      {"", "none", ""},                  {"add notes/c/d/new.md", "new", "c/d/new.md"},
      {"add notes/a/b/two.md", "two", "a/b/two.md"}, {"remove notes/a/b/two.md", "two", ""},
      {"rename notes/a/b notes/a/e", "deep", "a/e/deep.md"}, {"remove-all notes/c", "new", ""},
      {"", "../top", ""},                {"", "", ""}};
  for (const Step& step : steps) {
    const std::string action = step.action;
    if (action.starts_with("add ")) tv.write_file(action.substr(4), "x");
    else if (action.starts_with("remove ")) fs::remove(tv.root() / action.substr(7));
    else if (action.starts_with("remove-all ")) fs::remove_all(tv.root() / action.substr(11));
    else if (action.starts_with("rename ")) {
      const size_t space = action.find(' ', 7);
      fs::rename(tv.root() / action.substr(7, space - 7), tv.root() / action.substr(space + 1));
    }
    EXPECT_EQ(found(tv, step.id), step.want) << step.action << " / " << step.id;
  }
  auto missing = find_note_file(tv.root() / "missing", "deep");
  ASSERT_TRUE(is_ok(missing));
  EXPECT_FALSE(missing->has_value());
}

// A folder left unchanged since well before it was listed is not listed
// again: a subfolder slipped in behind an unchanged time stays unseen until
// the folder's time moves.
TEST(NoteFileFinder, UnchangedFoldersAreNotListedAgain) {
  testing::TempVault tv;
  tv.write_file("notes/a/x.md", "x");
  age(tv.notes() / "a");
  age(tv.notes());
  EXPECT_EQ(found(tv, "x"), "a/x.md");
  EXPECT_EQ(found(tv, "hidden"), "");  // lists and remembers both folders
  tv.write_file("notes/a/sub/hidden.md", "x");
  age(tv.notes() / "a");
  EXPECT_EQ(found(tv, "hidden"), "");
  timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
  ASSERT_EQ(utimensat(AT_FDCWD, (tv.notes() / "a").c_str(), now, 0), 0);
  EXPECT_EQ(found(tv, "hidden"), "a/sub/hidden.md");
  // Listed within the same tick as its change: listed again next time.
  tv.write_file("notes/a/sub2/later.md", "x");
  EXPECT_EQ(found(tv, "later"), "a/sub2/later.md");
}

}  // namespace
}  // namespace core
