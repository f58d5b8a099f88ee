// The worked example in README.md, replayed against the real binary so the
// documentation stays true. Timestamps differ on every run and are compared
// as a placeholder.

#include "testing/server_process.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace mcp {
namespace {

struct Session {
  std::string requests;
  std::string answers;
};

// The `>` and `<` lines of the fenced block after the example marker.
Session readme_session() {
  std::ifstream in(std::string(BT_SOURCE_DIR) + "/README.md");
  Session session;
  bool marked = false, inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "<!-- example-session -->") marked = true;
    else if (marked && line.starts_with("```")) {
      if (inside) break;
      inside = true;
    } else if (inside && line.starts_with("> ")) session.requests += line.substr(2) + "\n";
    else if (inside && line.starts_with("< ")) session.answers += line.substr(2) + "\n";
  }
  return session;
}

std::string without_timestamps(const std::string& text) {
  static const std::regex timestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?\+00:00)");
  return std::regex_replace(text, timestamp, "<time>");
}

TEST(Readme, TheExampleSessionIsWhatTheServerAnswers) {
  const Session session = readme_session();
  ASSERT_FALSE(session.requests.empty()) << "no example session found in README.md";
  core::testing::TempDir home;
  core::testing::TempVault vault;
  std::filesystem::create_directories(home.path() / ".config" / "brask-tolvane");
  std::ofstream(home.path() / ".config" / "brask-tolvane" / "mcp.json")
      << "{\"enabled\":true,\"vault_path\":\"" << vault.root().generic_string() << "\"}";
  auto run = testing::run_server(BT_SERVER_BINARY, session.requests, {{"HOME", home.path().string()}});
  EXPECT_EQ(without_timestamps(run.out), without_timestamps(session.answers));
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace mcp
