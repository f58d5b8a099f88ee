#include "base/folder_watch.hpp"

#include "base/files.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

namespace core {
namespace {

namespace fs = std::filesystem;

bool holds(const std::vector<fs::path>& paths, const fs::path& path) {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

#if defined(__linux__) || defined(_WIN32)

// What the watch has been told once everything done so far has reached it.
// Linux tells within the call that made the change. On Windows a read's
// completion reaches the program a moment later (under Wine, from Wine's
// server), so there a new folder is made in the watched `fence_in` as a
// fence, and takes go on (for ten seconds at most) until its notice comes:
// the notices of what was done before it come first. The fence itself is
// left out of the news.
WatchNews settled(FolderWatch& watch, const fs::path& fence_in) {
#ifdef _WIN32
  static int fences = 0;
  const fs::path fence = fence_in / ("fence" + std::to_string(++fences));
  fs::create_directory(fence);
  std::set<fs::path> entries, gone;
  WatchNews all;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!entries.contains(fence) && std::chrono::steady_clock::now() < deadline) {
    WatchNews news = watch.take();
    entries.insert(news.entries.begin(), news.entries.end());
    gone.insert(news.folders_gone.begin(), news.folders_gone.end());
    all.lost = all.lost || news.lost;
    if (!entries.contains(fence)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(entries.erase(fence)) << "no notice of the fence";
  all.entries.assign(entries.begin(), entries.end());
  all.folders_gone.assign(gone.begin(), gone.end());
  return all;
#else
  (void)fence_in;
  return watch.take();
#endif
}

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
  WatchNews news = settled(watch, notes);
  EXPECT_FALSE(news.lost);
  EXPECT_EQ(std::count(news.entries.begin(), news.entries.end(), notes / "a.md"), 1);
  EXPECT_TRUE(holds(news.entries, notes / "sub" / "b.md"));
  EXPECT_TRUE(watch.take().entries.empty());  // taken once

  fs::rename(notes / "sub", notes / "moved");
  news = settled(watch, notes);
  EXPECT_TRUE(holds(news.entries, notes / "sub"));
  EXPECT_TRUE(holds(news.entries, notes / "moved"));
  EXPECT_TRUE(holds(news.folders_gone, notes / "sub"));
  // The moved folder is watched again only by the name it now has.
  ASSERT_EQ(watch.add(notes / "moved"), std::nullopt);
  tv.write_file("notes/moved/c.md", "four");
  news = settled(watch, notes / "moved");
  EXPECT_TRUE(holds(news.entries, notes / "moved" / "c.md"));
  EXPECT_FALSE(holds(news.entries, notes / "sub" / "c.md"));
}

TEST(FolderWatch, TellsOfAWatchedFolderRemovedAndOfTheTopRenamedAway) {
  const testing::TempVault tv;
  const fs::path notes = tv.notes();
  fs::create_directories(notes / "sub");
  tv.write_file("notes/sub/a.md", "one");
  {
    // Removed while watched: the watch lets go of it, so that a folder of
    // the same name can be made (Windows keeps a removed folder's name while
    // a handle to it is open). Wine 8 cannot show this: there the removed
    // folder stays until the handle closes, and no notice comes.
#ifdef __linux__
    FolderWatch watch;
    ASSERT_EQ(watch.start(), std::nullopt);
    ASSERT_EQ(watch.add(notes), std::nullopt);
    ASSERT_EQ(watch.add(notes / "sub"), std::nullopt);
    fs::remove_all(notes / "sub");
    const WatchNews news = settled(watch, notes);
    EXPECT_TRUE(holds(news.folders_gone, notes / "sub"));
    EXPECT_TRUE(holds(news.entries, notes / "sub"));
    EXPECT_EQ(watch.folders(), 1u);
    EXPECT_TRUE(fs::create_directory(notes / "sub"));
    ASSERT_EQ(watch.add(notes / "sub"), std::nullopt);
    EXPECT_EQ(watch.folders(), 2u);
#endif
  }
  // The top folder, whose parent is not watched, renamed away. Only it is
  // watched: Windows refuses to rename a folder above a watched one.
  FolderWatch watch;
  ASSERT_EQ(watch.start(), std::nullopt);
  ASSERT_EQ(watch.add(notes), std::nullopt);
  fs::rename(notes, tv.root() / "elsewhere");
  const WatchNews moved = watch.take();
  EXPECT_TRUE(holds(moved.folders_gone, notes));
  EXPECT_FALSE(moved.lost);
  EXPECT_EQ(watch.folders(), 0u);
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
