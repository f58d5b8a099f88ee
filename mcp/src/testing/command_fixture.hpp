#pragma once
// Shared by the command tests: a HOME with its configuration, a vault, the
// binary run with a command or as the server, and tool answers parsed.

#include "testing/server_process.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <set>
#include <sstream>

namespace mcp::command_tests {

namespace fs = std::filesystem;
using nlohmann::json;

inline std::string call(int id, std::string_view tool, const json& arguments = json::object()) {
  return json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"},
              {"params", {{"name", tool}, {"arguments", arguments}}}}
             .dump() +
         "\n";
}

// The ids named in a tool's answer line (any "id" member, and the first of
// each backlinks pair), or {"error: ..."}.
inline std::set<std::string> ids_in(const std::string& line) {
  json envelope = json::parse(line, nullptr, false);
  if (!envelope.contains("result")) return {"error: " + line};
  json answer = json::parse(envelope["result"]["content"][0]["text"].get<std::string>(), nullptr, false);
  std::set<std::string> ids;
  auto walk = [&](auto& self, const json& value) -> void {
    if (value.is_object()) {
      for (const auto& [key, item] : value.items()) {
        if (key == "id" && item.is_string()) ids.insert(item.template get<std::string>());
        else if (key == "backlinks" && item.is_array())  // [[id, title], ...]
          for (const json& pair : item) ids.insert(pair.at(0).template get<std::string>());
        else self(self, item);
      }
    } else if (value.is_array()) {
      for (const json& item : value) self(self, item);
    }
  };
  walk(walk, answer);
  return ids;
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CommandTest : public ::testing::Test {
 protected:
  fs::path config_dir() const { return home.path() / ".config" / "brask-tolvane"; }
  void write_config(std::string_view name, std::string_view text) const {
    fs::create_directories(config_dir());
    std::ofstream(config_dir() / name, std::ios::binary) << text;
  }
  void enable(const fs::path& root) const {
    write_config("mcp.json", json{{"enabled", true}, {"vault_path", root.string()}}.dump());
  }
  // The binary with `args` (a command, or none to serve `input`).
  testing::ServerRun run(const std::vector<std::string>& args, const std::string& input = "",
                         std::map<std::string, std::string> env = {}) const {
    env.emplace("HOME", home.path().string());
    return testing::run_server(BT_SERVER_BINARY, input, env, args);
  }
  // Tool calls answered by the server, one line each.
  std::vector<std::string> serve(const std::string& input, const std::vector<std::string>& args = {},
                                 std::map<std::string, std::string> env = {}) const {
    auto result = run(args, input, std::move(env));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 0);
    return lines_of(result.out);
  }

  core::testing::TempDir home;
  core::testing::TempVault vault;
};

}  // namespace mcp::command_tests
