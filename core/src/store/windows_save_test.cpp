// Saving a note that another program holds open, on Windows: a reader that
// shares delete access (most editors, indexers) does not stop the save;
// one that does not share it makes the save fail after its retries, with
// the old note whole and no temporary left. POSIX has no share modes.

#ifdef _WIN32

#include "store/note_store.hpp"

#include "base/files.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::is_ok;

class OpenHandle {
 public:
  OpenHandle(const fs::path& path, DWORD share)
      : h_(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~OpenHandle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  OpenHandle(const OpenHandle&) = delete;
  OpenHandle& operator=(const OpenHandle&) = delete;
  bool open() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

class WindowsSave : public testing::VaultTest {
 protected:
  void SetUp() override {
    VaultTest::SetUp();
    tv.write_file("notes/Hand Written.md", "---\nid: hand\ntitle: Hand\n---\nby hand");  // name is not its id
    ASSERT_TRUE(is_ok(upsert_note(*vault, {"Held", "first", "held", std::nullopt, {}})));
  }
};

// Whether this system renames over a file another handle holds open
// sharing delete access: Windows 10 1809 and later on NTFS do (a rename
// with POSIX semantics); Wine 8 and older Windows do not.
bool renames_over_open_files() {
  testing::TempDir dir;
  std::ofstream(dir.path() / "a").put('a');
  std::ofstream(dir.path() / "b").put('b');
  OpenHandle reader(dir.path() / "b", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  return reader.open() && is_ok(rename_replacing(dir.path() / "a", dir.path() / "b"));
}

TEST_F(WindowsSave, AReaderThatSharesDeleteDoesNotStopTheSave) {
  if (!renames_over_open_files()) GTEST_SKIP() << "this system cannot rename over an open file";
  OpenHandle reader(tv.notes() / "held.md", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_TRUE(reader.open());
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Held", "second", "held", std::nullopt, {}})));
  EXPECT_EQ(get_note(*vault, "held")->body, "second");
}

// A program that opens the note without sharing delete access holds its
// name: the save fails once its retries are spent, the note stays as it
// was, and the copy kept for an undo, which cannot be removed while the
// file is held, goes with the next save.
TEST_F(WindowsSave, AReaderThatLocksTheFileFailsTheSaveAndChangesNothing) {
  const auto before = tv.files();
  {
    OpenHandle locker(tv.notes() / "held.md", FILE_SHARE_READ);
    ASSERT_TRUE(locker.open());
    auto saved = upsert_note(*vault, {"Held", "second", "held", std::nullopt, {}});
    ASSERT_FALSE(saved);
    EXPECT_TRUE(to_text(saved.error()).starts_with("IO error: ")) << to_text(saved.error());
  }
  EXPECT_EQ(tv.read_file("notes/held.md"), before.at("notes/held.md"));
  EXPECT_EQ(get_note(*vault, "held")->body, "first");
  // Once the other program lets go, the save goes through and leaves
  // nothing beside the note.
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Held", "second", "held", std::nullopt, {}})));
  EXPECT_EQ(get_note(*vault, "held")->body, "second");
  EXPECT_EQ(tv.files().size(), before.size());
}

}  // namespace
}  // namespace core

#endif  // _WIN32
