#include "server/tool_handlers.hpp"

#include "index/indexer.hpp"
#include "index/sqlite.hpp"
#include "query/listing.hpp"
#include "server/content_text.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace mcp {
namespace {

using nlohmann::json;

// list_notes writes its rows straight into the answer's text; the text must
// be the one the result object would give, whatever the stored strings hold.
TEST(ReadTools, ListNotesTextIsTheResultObjectsText) {
  core::testing::TempVault tv;
  auto vault = core::open_vault(tv.root());
  ASSERT_TRUE(core::testing::is_ok(vault));
  struct Row { const char* id; const char* path; const char* title; const char* tags; };
  const Row rows[] = {{"a", "notes/a.md", "Plain", "[]"},
                      {"b\"q", "notes/p/b.md", "Quote \" back \\ tab \t nul-ish \x01 del \x7f", "[\"#x\",\"y\\\"z\"]"},
                      {"c", "notes/c.md", "\xC3\xA9\xE2\x86\x92\xF0\x9F\x98\x80", "[\"\\u00e9\"]"},
                      {"d", "notes/d.md", "bad \xC3 byte \xFF", "not json"},
                      {"e", "notes/e.md", "", "[1,\"x\"]"}};
  int n = 0;
  for (const Row& row : rows)
    ASSERT_TRUE(core::testing::is_ok(core::run_statement(
        vault->db(), "INSERT INTO note_files (id, path, title, tags_json, updated_at) VALUES (?1, ?2, ?3, ?4, ?5)", row.id,
        row.path, row.title, row.tags, "2024-01-0" + std::to_string(++n))));
  for (const json& arguments : {json::object(), json{{"limit", 2}}, json{{"folder", "p"}}, json{{"limit", 0}}}) {
    auto outcome = list_notes_tool(*vault, arguments);
    ASSERT_TRUE(outcome.has_value());
    ASSERT_TRUE(std::holds_alternative<ContentText>(*outcome));
    // The object as the tool built it before it wrote text.
    json notes = json::array();
    auto listed = core::list_notes(*vault, arguments.contains("folder") ? std::optional<std::string>("p") : std::nullopt,
                                   std::nullopt,
                                   arguments.contains("limit") ? std::optional<std::uint64_t>(arguments["limit"]) : std::nullopt);
    ASSERT_TRUE(core::testing::is_ok(listed));
    for (const core::NoteListItem& row : *listed)
      notes.push_back({{"id", row.id}, {"path", row.path}, {"tags", row.tags}, {"title", row.title},
                       {"updated_at", row.updated_at}});
    EXPECT_EQ(std::get<ContentText>(*outcome).str(), ContentText::of(json{{"notes", notes}}).str()) << arguments;
  }
}

}  // namespace
}  // namespace mcp
