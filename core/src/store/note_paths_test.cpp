#include "store/note_paths.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(NotePaths, FolderTextsAreNormalised) {
  struct Case { std::string_view in, want; };
  for (const Case& c : {Case{"/projects//2024/", "projects/2024"}, Case{"a\\b", "a/b"}, Case{"../x/./y", "x/y"},
                        Case{"/", ""}, Case{"..", ""}, Case{"", ""}, Case{"Projects", "Projects"}})
    EXPECT_EQ(normalize_folder(c.in), c.want) << "in: '" << c.in << "'";
  for (const Case& c : {Case{"notes/projects/2024/abc.md", "projects/2024"}, Case{"notes/abc.md", ""},
                        Case{"./notes/x/abc.md", "x"}, Case{"other/abc.md", "other"}, Case{"abc.md", ""},
                        Case{"notes\\a\\b.md", "a"}})
    EXPECT_EQ(folder_of(c.in), c.want) << "in: '" << c.in << "'";
}

TEST(NotePaths, StoredPathsAreNormalisedAndKeptBelowNotes) {
  struct Case { std::string_view in; std::optional<std::string> want; };
  for (const Case& c : {Case{"notes/a/n.md", "notes/a/n.md"}, Case{"./notes/a/n.md", "notes/a/n.md"},
                        Case{"notes/./a/n.md", "notes/a/n.md"}, Case{"notes\\a\\n.md", "notes/a/n.md"},
                        Case{"notes//b/../a/n.md", "notes/a/n.md"}, Case{"a/../notes/n.md", "notes/n.md"},
                        Case{"notes/../outside.md", std::nullopt}, Case{"../notes/n.md", std::nullopt},
                        Case{"/notes/n.md", std::nullopt}, Case{"\\notes\\n.md", std::nullopt},
                        Case{"notes", std::nullopt}, Case{"notes/a/..", std::nullopt}, Case{"", std::nullopt},
                        Case{"other/n.md", std::nullopt}, Case{"C:/notes/n.md", std::nullopt},
                        Case{std::string_view("notes/n\0.md", 11), std::nullopt}})
    EXPECT_EQ(normalize_stored_path(c.in), c.want) << "in: '" << c.in << "'";
}

TEST(NotePaths, OnlyPlainStemsAreSafeIds) {
  for (std::string_view id : {"abc", "m4x8q2v7c1n9b3k6z0p5w2ty", "a.b", "...", " x "})
    EXPECT_TRUE(is_safe_note_id(id)) << id;
  for (std::string_view id : std::initializer_list<std::string_view>{"", ".", "..", "a/b", "/", "a\\b", std::string_view("a\0b", 3)})
    EXPECT_FALSE(is_safe_note_id(id)) << id;
}

}  // namespace
}  // namespace core
