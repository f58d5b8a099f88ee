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

}  // namespace
}  // namespace mcp
