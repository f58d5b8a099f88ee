#include "config/strict_json.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(StrictJson, ReportsRepeatedKeysWithTheirObject) {
  auto parsed = parse_strict_json(R"({"k": 1, "a": [{"k": 1}, {"k": 2, "k": 3}], "b": {"k": 0, "k": 4}, "k": 5})");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->value["k"], 5);  // the last occurrence
  ASSERT_EQ(parsed->repeated_keys.size(), 3u);
  const JsonObjectPath in_array{"a", std::nullopt}, in_b{"b"}, top{};
  EXPECT_EQ(parsed->repeated_keys[0].object_path, in_array);
  EXPECT_EQ(parsed->repeated_keys[1].object_path, in_b);
  EXPECT_EQ(parsed->repeated_keys[2].object_path, top);
  EXPECT_TRUE(repeats_any(parsed->repeated_keys, top, {"x", "k"}));
  EXPECT_FALSE(repeats_any(parsed->repeated_keys, top, {"a"}));
  EXPECT_FALSE(repeats_any(parsed->repeated_keys, {"b", std::nullopt}, {"k"}));
}

}  // namespace
}  // namespace core
