#include "store/note_file_finder.hpp"

#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>


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

// Sets a folder's modification time to about an hour ago, as if it had not
// been touched since; each call gives another time, as a real change would.
void age(const fs::path& dir) {
  static long calls = 0;
  const std::time_t then = std::time(nullptr) - 3600 + ++calls % 600;
  testing::set_modified_time(dir, then);
}

// Ages every folder of the tree.
void age_all(const fs::path& notes) {
  age(notes);
  for (const auto& entry : fs::recursive_directory_iterator(notes))
    if (entry.is_directory() && !entry.is_symlink()) age(entry.path());
}

// Each step's change is made, then (on the second pass) every folder is aged,
// so that the search must tell the change by time, link count or names
// rather than by a folder changed just now.
TEST(NoteFileFinder, FilesPlacedOrRemovedBetweenCallsAreSeenByTheNextCall) {
  BT_REQUIRE_LINKS();
 for (bool aged : {false, true}) {
  SCOPED_TRACE(aged ? "aged" : "fresh");
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
      {"add notes/a/f/g.md", "g", "a/f/g.md"}, {"remove-all notes/a/f", "g", ""},
      {"symlink notes/a/e notes/a/link", "deep", "a/e/deep.md"}, {"rename notes/a/e notes/a/e2", "deep", "a/e2/deep.md"},
      {"", "../top", ""},                {"", "", ""}};
  for (const Step& step : steps) {
    const std::string action = step.action;
    if (action.starts_with("add ")) tv.write_file(action.substr(4), "x");
    else if (action.starts_with("remove ")) fs::remove(tv.root() / action.substr(7));
    else if (action.starts_with("remove-all ")) fs::remove_all(tv.root() / action.substr(11));
    else if (action.starts_with("rename ")) {
      const size_t space = action.find(' ', 7);
      fs::rename(tv.root() / action.substr(7, space - 7), tv.root() / action.substr(space + 1));
    } else if (action.starts_with("symlink ")) {
      const size_t space = action.find(' ', 8);
      fs::create_directory_symlink(tv.root() / action.substr(8, space - 8), tv.root() / action.substr(space + 1));
    }
    if (aged) age_all(tv.notes());
    EXPECT_EQ(found(tv, step.id), step.want) << step.action << " / " << step.id;
  }
  auto missing = find_note_file(tv.root() / "missing", "deep");
  ASSERT_TRUE(is_ok(missing));
  EXPECT_FALSE(missing->has_value());
 }
}

void set_time(const fs::path& dir, std::time_t when) { testing::set_modified_time(dir, when); }

// A folder left unchanged (time and link count) since well before it was
// listed is not listed again: a subfolder renamed behind a time put back
// stays unseen until the folder's time moves. Then the remembered name is
// gone, so the folder is listed again.
TEST(NoteFileFinder, UnchangedFoldersAreNotListedAgain) {
  testing::TempVault tv;
  tv.write_file("notes/a/sub1/x.md", "x");
  const std::time_t then = std::time(nullptr) - 3600;
  set_time(tv.notes() / "a", then);
  EXPECT_EQ(found(tv, "x"), "a/sub1/x.md");
  fs::rename(tv.notes() / "a/sub1", tv.notes() / "a/sub2");
  set_time(tv.notes() / "a", then);
  EXPECT_EQ(found(tv, "x"), "");
  set_time(tv.notes() / "a", then + 1);
  EXPECT_EQ(found(tv, "x"), "a/sub2/x.md");
  // A new subfolder moves the time and the link count.
  tv.write_file("notes/a/sub3/later.md", "x");
  EXPECT_EQ(found(tv, "later"), "a/sub3/later.md");
}

}  // namespace
}  // namespace core
