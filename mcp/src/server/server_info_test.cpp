#include "server/server_info.hpp"

#include "server/json_text.hpp"

#include <gtest/gtest.h>

namespace mcp {
namespace {

using nlohmann::json;
using enum ProtocolVersion;

TEST(ServerInfo, UpTo2025_06_18OnlyTheVersionChanges) {
  for (ProtocolVersion version : {k2024_11_05, k2025_03_26, k2025_06_18})
    EXPECT_EQ(to_json_text(initialize_result(version)),
              "{\"capabilities\":{\"tools\":{}},\"protocolVersion\":\"" + std::string(version_text(version)) +
                  "\",\"serverInfo\":{\"name\":\"brask-tolvane-mcp\",\"version\":\"0.1.0\"}}");
}

TEST(ServerInfo, From2025_11_25TheServerDescribesItselfAndGuidesTheAgent) {
  const json result = initialize_result(k2025_11_25);
  EXPECT_EQ(result["protocolVersion"], "2025-11-25");
  EXPECT_EQ(result["capabilities"], json({{"tools", json::object()}}));
  EXPECT_EQ(result["serverInfo"],
            json({{"description", "Searches, reads and edits the Markdown notes of a Brask Tolvane vault."},
                  {"name", "brask-tolvane-mcp"},
                  {"title", "Brask Tolvane notes"},
                  {"version", "0.1.0"}}));
  const std::string instructions = result["instructions"].get<std::string>();
  // Agents read it on every start: a few lines, naming what they get wrong.
  EXPECT_LT(instructions.size(), 1200u);
  EXPECT_LE(std::count(instructions.begin(), instructions.end(), '\n'), 6);
  for (std::string_view part : {"#tag", "meta:key=value", "rolling:", "today", "ids from search_notes", "trash",
                                "limit"})
    EXPECT_NE(instructions.find(part), std::string::npos) << "missing: " << part;
}

}  // namespace
}  // namespace mcp
