#include "server/protocol.hpp"

#include <gtest/gtest.h>

namespace mcp {
namespace {

using nlohmann::json;
using enum ProtocolVersion;

TEST(Protocol, VersionsAreNamedExactly) {
  for (ProtocolVersion version : protocol_versions())
    EXPECT_EQ(protocol_version_named(version_text(version)), version) << version_text(version);
  EXPECT_EQ(version_text(k2024_11_05), "2024-11-05");
  EXPECT_EQ(version_text(k2025_11_25), "2025-11-25");
  for (std::string_view text : {"", "2025-11-25 ", " 2025-06-18", "2025-6-18", "2024-10-07", "2026-07-28", "latest"})
    EXPECT_EQ(protocol_version_named(text), std::nullopt) << "'" << text << "'";
}

// The client's version when the server speaks it and may (no newer than the
// cap), else the cap itself.
TEST(Protocol, InitializeAgreesOnTheAskedVersionOrTheNewestAllowed) {
  struct Case { json asked; ProtocolVersion cap, want; };
  const Case cases[] = {
      {"2024-11-05", k2024_11_05, k2024_11_05}, {"2025-03-26", k2024_11_05, k2024_11_05},
      {"2025-11-25", k2024_11_05, k2024_11_05}, {"2026-07-28", k2024_11_05, k2024_11_05},
      {"2024-11-05", k2025_03_26, k2024_11_05}, {"2025-03-26", k2025_03_26, k2025_03_26},
      {"2025-06-18", k2025_03_26, k2025_03_26}, {"2025-11-25", k2025_03_26, k2025_03_26},
      {"2024-11-05", k2025_06_18, k2024_11_05}, {"2025-03-26", k2025_06_18, k2025_03_26},
      {"2025-06-18", k2025_06_18, k2025_06_18}, {"2025-11-25", k2025_06_18, k2025_06_18},
      {"2024-11-05", k2025_11_25, k2024_11_05}, {"2025-03-26", k2025_11_25, k2025_03_26},
      {"2025-06-18", k2025_11_25, k2025_06_18}, {"2025-11-25", k2025_11_25, k2025_11_25},
      // Versions the server does not know, older or newer (the one without
      // initialize among them): the newest handshake it may speak.
      {"2024-10-07", k2025_11_25, k2025_11_25}, {"2026-07-28", k2025_11_25, k2025_11_25},
      {"2026-07-28", k2025_06_18, k2025_06_18}, {"", k2025_11_25, k2025_11_25},
      {"2025-11-25 ", k2025_11_25, k2025_11_25}, {20251125, k2025_06_18, k2025_06_18},
      {nullptr, k2025_03_26, k2025_03_26},
  };
  for (const Case& c : cases)
    EXPECT_EQ(negotiate(json{{"protocolVersion", c.asked}, {"capabilities", json::object()}}, c.cap), c.want)
        << "asked " << c.asked.dump() << ", cap " << version_text(c.cap);
}

TEST(Protocol, InitializeWithoutAVersionGetsTheNewestAllowed) {
  for (ProtocolVersion cap : protocol_versions()) {
    EXPECT_EQ(negotiate(std::nullopt, cap), cap);
    EXPECT_EQ(negotiate(json::object(), cap), cap);
    EXPECT_EQ(negotiate(json::array({"2024-11-05"}), cap), cap);
    EXPECT_EQ(negotiate(json("2024-11-05"), cap), cap);
  }
}

TEST(Protocol, EachFeatureComesWithItsVersion) {
  struct Case { ProtocolVersion version; bool annotations, structured, description; };
  for (const Case& c : {Case{k2024_11_05, false, false, false}, Case{k2025_03_26, true, false, false},
                        Case{k2025_06_18, true, true, false}, Case{k2025_11_25, true, true, true}}) {
    EXPECT_EQ(offers_tool_annotations(c.version), c.annotations) << version_text(c.version);
    EXPECT_EQ(offers_structured_results(c.version), c.structured) << version_text(c.version);
    EXPECT_EQ(offers_server_description(c.version), c.description) << version_text(c.version);
  }
}

}  // namespace
}  // namespace mcp
