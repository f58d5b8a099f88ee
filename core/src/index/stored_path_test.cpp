#include "index/stored_path.hpp"

#include "index/sqlite.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace core {
namespace {

using testing::is_ok;

// Spellings other programs may store, plain and odd, at every depth.
const std::vector<std::string> kStoredPaths = {
    "notes/a.md", "notes/work/a.md", "notes/work/2024/a.md", "notes/work0/a.md", "notes/work-x/a.md",
    "notes/work.d/a.md", "./notes/work/a.md", "notes\\work\\a.md", "notes//work/a.md", "notes/./work/a.md",
    "notes/x/../work/a.md", "notes/work/./a.md", "notes/work//a.md", "other/a.md", "a.md", "notes/.hidden/a.md",
    "notes/..x/a.md", "notes/work\\sub/a.md", "notes/w\u00f6rk/a.md", "NOTES/work/a.md",
};

class StoredPathSql : public testing::VaultTest {
 protected:
  // What the SQL term says of `path`.
  bool odd_in_sql(const std::string& path) {
    auto stmt = prepare(vault->db(), "SELECT " + std::string(kOddStoredPath) + " FROM (SELECT ?1 AS path)");
    EXPECT_TRUE(is_ok(stmt));
    EXPECT_TRUE(is_ok(stmt->bind_all(path)));
    auto row = stmt->step();
    EXPECT_TRUE(row && *row);
    return stmt->column_int64(0) != 0;
  }
};

// A listing reads a folder's range of plain paths and tests only the odd
// ones in full, so every path that folder_of places in a folder is either
// odd in SQL, or lies in that folder's range with its folder read off the
// text between "notes/" and its last "/".
TEST_F(StoredPathSql, EveryPathIsOddOrFoundInTheRangeOfItsFolder) {
  for (const std::string& path : kStoredPaths) {
    if (odd_in_sql(path)) continue;
    const std::string folder = folder_of(path);
    const std::string low = folder_prefix(folder);
    EXPECT_TRUE(path >= low && path < range_end(low)) << path << " folder '" << folder << "'";
    const std::string plain = path.substr(6, path.rfind('/') == 5 ? 0 : path.rfind('/') - 6);
    EXPECT_EQ(plain, folder) << path;
    EXPECT_EQ(normalize_stored_path(path), path) << path;  // plain paths read as they are written
  }
}

TEST_F(StoredPathSql, OddSpellingsAreOdd) {
  for (const char* path : {"./notes/work/a.md", "notes\\work\\a.md", "notes//work/a.md", "notes/./work/a.md",
                           "notes/x/../work/a.md", "other/a.md", "NOTES/work/a.md"})
    EXPECT_TRUE(odd_in_sql(path)) << path;
}

TEST(StoredPathRange, EndsJustPastTheFolder) {
  EXPECT_EQ(folder_prefix(""), "notes/");
  EXPECT_EQ(folder_prefix("a/b"), "notes/a/b/");
  EXPECT_EQ(range_end("notes/"), "notes0");
  EXPECT_EQ(range_end("notes/a/b/"), "notes/a/b0");
  // Only texts beginning with the prefix fall before the end.
  for (std::string_view outside : {"notes/a/b", "notes/a/b0", "notes/a/b-x/n.md", "notes/a/b.d/n.md"})
    EXPECT_FALSE(outside >= "notes/a/b/" && outside < range_end("notes/a/b/")) << outside;
}

}  // namespace
}  // namespace core
