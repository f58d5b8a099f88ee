#include "server/catalogue.hpp"

#include "server/json_text.hpp"

#include <gtest/gtest.h>

namespace mcp {
namespace {

// The catalogue as clients see it, byte for byte.
constexpr std::string_view kVault =
    R"j("vault":{"description":"Library label, id, or absolute path. Absent )j" "\u2192"
    R"j( MCP/settings default vault.","type":"string"})j";

std::string expected_catalogue() {
  const std::string v(kVault);
  const std::string id_only = R"j({"properties":{"id":{"type":"string"},)j" + v + R"j(},"required":["id"],"type":"object"})j";
  const std::string metas = R"j("metas":{"additionalProperties":{"type":"string"},"type":"object"})j";
  return R"j({"tools":[)j"
         R"j({"description":"Search Brask Tolvane vault notes (FTS + tags + meta filters).","inputSchema":{"properties":{"limit":{"type":"integer"},"query":{"type":"string"},)j" +
         v + R"j(},"required":["query"],"type":"object"},"name":"search_notes"},)j"
             R"j({"description":"List note summaries, optionally filtered by folder and/or tag.","inputSchema":{"properties":{"folder":{"description":"Folder path under notes/ (empty string = vault root)","type":"string"},"limit":{"type":"integer"},"tag":{"type":"string"},)j" +
         v + R"j(},"type":"object"},"name":"list_notes"},)j"
             R"j({"description":"Load a note by id from the vault.","inputSchema":)j" +
         id_only + R"j(,"name":"get_note"},)j"
                   R"j({"description":"List notes linking to the given note id.","inputSchema":)j" +
         id_only + R"j(,"name":"list_backlinks"},)j"
                   R"j({"description":"Create or update a note in the vault (agents write path).","inputSchema":{"properties":{"body":{"type":"string"},"id":{"type":"string"},)j" +
         metas + R"j(,"title":{"type":"string"},)j" + v +
         R"j(,"workspace_id":{"type":"string"}},"required":["title","body"],"type":"object"},"name":"upsert_note"},)j"
         R"j({"description":"Merge or replace frontmatter metas on a note without rewriting body/title.","inputSchema":{"properties":{"id":{"type":"string"},)j" +
         metas + R"j(,"replace":{"description":"If true, replace metas wholesale (default false = merge)","type":"boolean"},)j" + v +
         R"j(},"required":["id","metas"],"type":"object"},"name":"set_metas"},)j"
         R"j({"description":"Move a note into a folder under notes/ (empty folder = vault root).","inputSchema":{"properties":{"folder":{"type":"string"},"id":{"type":"string"},)j" +
         v + R"j(},"required":["id","folder"],"type":"object"},"name":"move_note"},)j"
             R"j({"description":"Delete a note by id from the vault.","inputSchema":)j" +
         id_only + R"j(,"name":"delete_note"}]})j";
}

TEST(Catalogue, IsTheFixedTextByteForByte) {
  EXPECT_EQ(to_json_text(tool_catalogue()), expected_catalogue());
}


using nlohmann::json;
using enum ProtocolVersion;

// A later version only adds members to each tool: without them every tool
// is the default one.
TEST(Catalogue, LaterVersionsOnlyAddToEachTool) {
  EXPECT_EQ(to_json_text(tool_catalogue(k2024_11_05)), expected_catalogue());
  const json plain = tool_catalogue();
  for (ProtocolVersion version : {k2025_03_26, k2025_06_18, k2025_11_25}) {
    json listed = tool_catalogue(version);
    for (json& tool : listed["tools"])
      for (const char* added : {"annotations", "title", "outputSchema"}) tool.erase(added);
    EXPECT_EQ(listed, plain) << version_text(version);
  }
}

TEST(Catalogue, From2025_03_26EveryToolGivesEveryHint) {
  struct Hints { std::string_view tool; bool read_only, destructive, idempotent; };
  const Hints want[] = {{"search_notes", true, false, true}, {"list_notes", true, false, true},
                        {"get_note", true, false, true},     {"list_backlinks", true, false, true},
                        {"upsert_note", false, true, false}, {"set_metas", false, true, true},
                        {"move_note", false, false, true},   {"delete_note", false, true, true}};
  for (ProtocolVersion version : {k2025_03_26, k2025_06_18, k2025_11_25}) {
    const json tools = tool_catalogue(version)["tools"];
    ASSERT_EQ(tools.size(), std::size(want));
    for (size_t i = 0; i < tools.size(); ++i) {
      EXPECT_EQ(tools[i]["name"], want[i].tool);
      EXPECT_EQ(tools[i]["annotations"], json({{"destructiveHint", want[i].destructive},
                                               {"idempotentHint", want[i].idempotent},
                                               {"openWorldHint", false},
                                               {"readOnlyHint", want[i].read_only}}))
          << want[i].tool << " on " << version_text(version);
    }
  }
  const json annotated = tool_catalogue(k2025_03_26);
  for (const json& tool : annotated["tools"]) {
    EXPECT_FALSE(tool.contains("title")) << tool["name"];
    EXPECT_FALSE(tool.contains("outputSchema")) << tool["name"];
  }
}

TEST(Catalogue, From2025_06_18EveryToolHasATitleAndAnExactOutputSchema) {
  const std::string_view titles[] = {"Search notes",          "List notes", "Get note",  "List backlinks",
                                     "Create or update note", "Set metas",  "Move note", "Delete note"};
  for (ProtocolVersion version : {k2025_06_18, k2025_11_25}) {
    const json tools = tool_catalogue(version)["tools"];
    ASSERT_EQ(tools.size(), std::size(titles));
    for (size_t i = 0; i < tools.size(); ++i) {
      EXPECT_EQ(tools[i]["title"], titles[i]);
      const json& schema = tools[i]["outputSchema"];
      EXPECT_EQ(schema["type"], "object") << tools[i]["name"];
      EXPECT_EQ(schema["additionalProperties"], false) << tools[i]["name"];
      json keys = json::array();
      for (const auto& [key, value] : schema["properties"].items()) keys.push_back(key);
      EXPECT_EQ(schema["required"], keys) << tools[i]["name"];
    }
  }
}

// Two answers in full: a pair is an array of two texts, and `deleted` is
// always true.
TEST(Catalogue, OutputSchemasByteForByte) {
  const json tools = tool_catalogue(k2025_06_18)["tools"];
  EXPECT_EQ(to_json_text(tools[3]["outputSchema"]),
            R"({"additionalProperties":false,"properties":{"backlinks":{"items":{"items":{"type":"string"},)"
            R"("maxItems":2,"minItems":2,"type":"array"},"type":"array"}},"required":["backlinks"],"type":"object"})");
  EXPECT_EQ(to_json_text(tools[7]["outputSchema"]),
            R"({"additionalProperties":false,"properties":{"deleted":{"const":true,"type":"boolean"},)"
            R"("id":{"type":"string"}},"required":["deleted","id"],"type":"object"})");
  EXPECT_EQ(to_json_text(tools[0]["outputSchema"]["properties"]["notes"]["items"]["properties"]["snippet"]),
            R"({"type":["string","null"]})");
}

}  // namespace
}  // namespace mcp
