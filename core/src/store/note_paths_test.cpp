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

TEST(NotePaths, NamesWindowsCannotKeepAreNamedWithTheReason) {
  struct Case { std::string_view name; std::optional<std::string> why; };
  const std::string device = "Windows keeps the name ";
  const std::string trailing = "Windows drops a dot or space at the end of a file name";
  for (const Case& c : {Case{"con", device + "con for a device"}, Case{"CON", device + "CON for a device"},
                        Case{"Nul", device + "Nul for a device"}, Case{"prn.md", device + "prn for a device"},
                        Case{"aux .x", device + "aux for a device"}, Case{"com1", device + "com1 for a device"},
                        Case{"LPT9", device + "LPT9 for a device"}, Case{"com0", device + "com0 for a device"},
                        Case{"com\xC2\xB9", device + "com\xC2\xB9 for a device"},
                        Case{"x.", trailing}, Case{"x ", trailing}, Case{"...", trailing},
                        Case{"a:b", "Windows refuses the character : in file names"},
                        Case{"q?", "Windows refuses the character ? in file names"},
                        Case{"tab\there", "Windows refuses the character with code 9 in file names"},
                        // Names that only look like devices are files.
                        Case{"console", std::nullopt}, Case{"com10", std::nullopt}, Case{"lpt", std::nullopt},
                        Case{"nul-note", std::nullopt}, Case{"x.y", std::nullopt}, Case{".hidden", std::nullopt},
                        Case{"caf\xC3\xA9", std::nullopt}, Case{"m4x8q2v7c1n9b3k6z0p5w2ty", std::nullopt}})
    EXPECT_EQ(windows_name_problem(c.name), c.why) << "name: '" << c.name << "'";
}

}  // namespace
}  // namespace core
