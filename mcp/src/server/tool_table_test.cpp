#include "server/tool_table.hpp"

#include "server/catalogue.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace mcp {
namespace {

// What `tools/list` offers is exactly what dispatch runs: each listed name
// finds its own row, with a handler.
TEST(ToolTable, TheCatalogueListsExactlyTheToolsDispatchFinds) {
  const nlohmann::json listed = tool_catalogue()["tools"];
  ASSERT_EQ(listed.size(), all_tools().size());
  std::set<std::string> names;
  for (size_t i = 0; i < listed.size(); ++i) {
    const std::string name = listed[i]["name"].get<std::string>();
    EXPECT_TRUE(names.insert(name).second) << "listed twice: " << name;
    const ToolSpec* tool = find_tool(name);
    ASSERT_NE(tool, nullptr) << name;
    EXPECT_EQ(tool, &all_tools()[i]) << name;
    EXPECT_NE(tool->handler, nullptr) << name;
    EXPECT_EQ(listed[i]["inputSchema"], tool->input_schema()) << name;
  }
}

TEST(ToolTable, NamesMatchExactly) {
  for (std::string_view name : {"", "Search_notes", "search_notes ", " get_note", "get_notes", "delete"})
    EXPECT_EQ(find_tool(name), nullptr) << "'" << name << "'";
}

// Only these four take the write path (no read deadline).
TEST(ToolTable, TheWritingToolsAreTheFourThatChangeNotes) {
  std::set<std::string_view> writing;
  for (const ToolSpec& tool : all_tools())
    if (tool.writes) writing.insert(tool.name);
  EXPECT_EQ(writing, (std::set<std::string_view>{"upsert_note", "set_metas", "move_note", "delete_note"}));
}

}  // namespace
}  // namespace mcp
