#include "base/folder_watch.hpp"

#include "base/files.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace core {
namespace {

namespace fs = std::filesystem;

bool holds(const std::vector<fs::path>& paths, const fs::path& path) {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

#ifdef __linux__

TEST(FolderWatch, TellsEachChangedEntryOnceAndWhenAWatchedFolderGoes) {
  const testing::TempVault tv;
  const fs::path notes = tv.notes();
  fs::create_directories(notes / "sub");
  FolderWatch watch;
  ASSERT_EQ(watch.start(), std::nullopt);
  ASSERT_EQ(watch.add(notes), std::nullopt);
  ASSERT_EQ(watch.add(notes / "sub"), std::nullopt);
  ASSERT_EQ(watch.add(notes / "." / "sub"), std::nullopt);  // the same folder by another path
  EXPECT_EQ(watch.folders(), 2u);
  EXPECT_TRUE(watch.take().entries.empty());

  tv.write_file("notes/a.md", "one");
  tv.write_file("notes/a.md", "two");
  tv.write_file("notes/sub/.a.md.tmp", "three");
  fs::rename(notes / "sub" / ".a.md.tmp", notes / "sub" / "b.md");
  WatchNews news = watch.take();
  EXPECT_FALSE(news.lost);
  EXPECT_EQ(std::count(news.entries.begin(), news.entries.end(), notes / "a.md"), 1);
  EXPECT_TRUE(holds(news.entries, notes / "sub" / "b.md"));
  EXPECT_TRUE(watch.take().entries.empty());  // taken once

  fs::rename(notes / "sub", notes / "moved");
  news = watch.take();
  EXPECT_TRUE(holds(news.entries, notes / "sub"));
  EXPECT_TRUE(holds(news.entries, notes / "moved"));
  EXPECT_TRUE(holds(news.folders_gone, notes / "sub"));
  // The moved folder is watched again only by the name it now has.
  ASSERT_EQ(watch.add(notes / "moved"), std::nullopt);
  tv.write_file("notes/moved/c.md", "four");
  news = watch.take();
  EXPECT_TRUE(holds(news.entries, notes / "moved" / "c.md"));
  EXPECT_FALSE(holds(news.entries, notes / "sub" / "c.md"));
}

TEST(FolderWatch, RefusesWhatItCannotWatch) {
  const testing::TempVault dir;
  FolderWatch unstarted;
  EXPECT_NE(unstarted.add(dir.root()), std::nullopt);
  EXPECT_TRUE(unstarted.take().entries.empty());
  FolderWatch watch;
  ASSERT_EQ(watch.start(), std::nullopt);
  EXPECT_NE(watch.add(dir.root() / "missing"), std::nullopt);
  dir.write_file("file", "x");
  EXPECT_NE(watch.add(dir.root() / "file"), std::nullopt);  // not a folder
  EXPECT_EQ(watch.folders(), 0u);
}

#endif

}  // namespace
}  // namespace core
