#include "base/error.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(CoreError, DisplayTextsCarryTheirPrefixAndNothingElse) {
  EXPECT_EQ(to_text(CoreError::io("No such file or directory")), "IO error: No such file or directory");
  EXPECT_EQ(to_text(CoreError::database("UNIQUE constraint failed: note_files.path")),
            "database error: UNIQUE constraint failed: note_files.path");
  EXPECT_EQ(to_text(CoreError::yaml("missing field `id`")), "YAML error: missing field `id`");
  EXPECT_EQ(to_text(CoreError::json("invalid UTF-8")), "JSON error: invalid UTF-8");
  EXPECT_EQ(to_text(CoreError::message("unclosed frontmatter")), "unclosed frontmatter");
}

// The kinds a caller branches on show their text as a Message does.
TEST(CoreError, KindsForCallersShowTheBareText) {
  struct Case { CoreError error; ErrorKind kind; };
  for (const Case& c : {Case{CoreError::not_found("note not found: x"), ErrorKind::NotFound},
                        Case{CoreError::conflict("a note with id x exists"), ErrorKind::Conflict},
                        Case{CoreError::invalid("title is required"), ErrorKind::Invalid}}) {
    EXPECT_EQ(c.error.kind(), c.kind) << c.error.detail();
    EXPECT_EQ(to_text(c.error), c.error.detail());
  }
}

}  // namespace
}  // namespace core
