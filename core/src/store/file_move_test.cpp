#include "store/file_move.hpp"

#include "base/files.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <cerrno>

#include <gtest/gtest.h>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::is_ok;

// The cross-file-system path, driven directly: a test machine rarely has a
// second file system at hand.
TEST(FileMove, CopyThenRemoveKeepsBytesModeAndLinks) {
  testing::TempVault tv;
  const std::string bytes("line\r\n\0binary\xff", 14);
  tv.write_file("a.md", bytes);
  fs::permissions(tv.root() / "a.md", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(is_ok(copy_then_remove(tv.root() / "a.md", tv.root() / "b.md")));
  EXPECT_FALSE(fs::exists(tv.root() / "a.md"));
  EXPECT_EQ(tv.read_file("b.md"), bytes);
#ifndef _WIN32  // Windows keeps no mode bits but read-only
  EXPECT_EQ(fs::status(tv.root() / "b.md").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif

  BT_REQUIRE_LINKS();
  fs::create_symlink("b.md", tv.root() / "link.md");
  ASSERT_TRUE(is_ok(copy_then_remove(tv.root() / "link.md", tv.root() / "moved.md")));
  EXPECT_EQ(fs::read_symlink(tv.root() / "moved.md"), "b.md");
  EXPECT_FALSE(fs::exists(fs::symlink_status(tv.root() / "link.md")));
}

TEST(FileMove, NeverReplacesAnExistingTarget) {
  testing::TempVault tv;
  tv.write_file("a.md", "a");
  tv.write_file("b.md", "b");
  for (auto move : {&move_file, &copy_then_remove}) {
    auto moved = move(tv.root() / "a.md", tv.root() / "b.md");
    ASSERT_FALSE(moved);
    EXPECT_EQ(to_text(moved.error()), "IO error: File exists");
    EXPECT_EQ(tv.read_file("a.md"), "a");
    EXPECT_EQ(tv.read_file("b.md"), "b");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(tv.root()), fs::directory_iterator()), 4);  // a, b, notes, marker
}

// Across file systems (a rename that answers EXDEV), each step that fails
// leaves `from` the one file: a failed copy leaves no partial target, and a
// source that cannot be removed takes its finished copy away again.
TEST(FileMove, AMoveAcrossFileSystemsThatFailsLeavesTheSourceAlone) {
  for (const FileCall failing : {FileCall::Copy, FileCall::Rename, FileCall::Remove}) {
    testing::TempVault tv;
    tv.write_file("a.md", "a");
    int renames = 0;
    set_file_fault([&](FileCall call, const fs::path&) {
      if (call == FileCall::Rename && ++renames == 1) return EXDEV;  // the first rename: another file system
      return call == failing ? EIO : 0;
    });
    auto moved = move_file(tv.root() / "a.md", tv.root() / "b.md");
    set_file_fault({});
    ASSERT_FALSE(moved) << static_cast<int>(failing);
    EXPECT_EQ(to_text(moved.error()), "IO error: Input/output error");
    EXPECT_EQ(tv.read_file("a.md"), "a");
    EXPECT_EQ(std::distance(fs::directory_iterator(tv.root()), fs::directory_iterator()), 3);  // a, notes, marker
  }
}

}  // namespace
}  // namespace core
