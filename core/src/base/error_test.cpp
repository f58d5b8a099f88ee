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

}  // namespace
}  // namespace core
