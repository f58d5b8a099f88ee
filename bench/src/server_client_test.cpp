#include "server_client.hpp"

#include "temp_folder_for_tests.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace bench {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Starts the real server with HOME in `home` (holding no configuration).
Outcome<ServerProcess> real_server(const fs::path& home) {
  return ServerProcess::start(BT_SERVER_BINARY, {"HOME=" + home.string(), "PATH=/usr/bin:/bin"});
}

// A stand-in server: a shell script with `body` as its commands.
fs::path script(const fs::path& folder, const std::string& name, const std::string& body) {
  const fs::path file = folder / name;
  std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
  fs::permissions(file, fs::perms::owner_all);
  return file;
}

TEST(ServerClient, InitializePingAndNotificationOnTheRealServer) {
  testing::TempFolder home;
  auto server = real_server(home.path());
  ASSERT_TRUE(server.has_value()) << server.error();
  auto hello = server->request("initialize", json::object());
  ASSERT_TRUE(hello.has_value()) << hello.error();
  EXPECT_EQ(hello->value["result"]["serverInfo"]["name"], "brask-tolvane-mcp");
  EXPECT_GT(hello->ms, 0);
  ASSERT_TRUE(server->notify("notifications/initialized").has_value());
  for (int n = 0; n < 3; ++n) {  // a stray answer to the notification would show up here as a wrong id
    auto pong = server->request("ping", json());
    ASSERT_TRUE(pong.has_value()) << pong.error();
    EXPECT_EQ(pong->value["result"], json::object());
  }
  auto peak = server->peak_resident_kib();
  ASSERT_TRUE(peak.has_value()) << peak.error();
  EXPECT_GT(*peak, 0);
  auto status = server->finish();
  ASSERT_TRUE(status.has_value()) << status.error();
  EXPECT_EQ(*status, 0);
  EXPECT_EQ(server->finish().value_or(-1), 0);
}

TEST(ServerClient, ToolErrorsComeBackAsTheirMessage) {
  testing::TempFolder home;  // no mcp.json: every tool call is refused
  auto server = real_server(home.path());
  ASSERT_TRUE(server.has_value()) << server.error();
  auto refused = server->call_tool("get_note", {{"id", "x"}});
  ASSERT_FALSE(refused.has_value());
  const fs::path config = home.path() / ".config" / "brask-tolvane" / "mcp.json";
  EXPECT_EQ(refused.error(), "MCP server disabled. Set enabled:true in " + config.string());
  EXPECT_TRUE(server->request("ping", json()).has_value());  // the loop goes on after a failed call
}

TEST(ServerClient, ToolResultsAreParsedFromTheTextItem) {
  testing::TempFolder folder;
  const auto answer = R"({"id":1,"jsonrpc":"2.0","result":{"content":[{"text":"{\"notes\":[1,2]}","type":"text"}]}})";
  auto server = ServerProcess::start(script(folder.path(), "tool", "read line; echo '" + std::string(answer) + "'").string(), {});
  ASSERT_TRUE(server.has_value());
  auto reply = server->call_tool("list_notes", json::object());
  ASSERT_TRUE(reply.has_value()) << reply.error();
  EXPECT_EQ(reply->value, json({{"notes", {1, 2}}}));
}

TEST(ServerClient, LongAnswersArriveWhole) {
  testing::TempFolder folder;
  const std::string body =
      "read line; printf '{\"id\":1,\"result\":{\"x\":\"'; head -c 3000000 /dev/zero | tr '\\0' a; printf '\"}}\\n'";
  auto server = ServerProcess::start(script(folder.path(), "long", body).string(), {"PATH=/usr/bin:/bin"});
  ASSERT_TRUE(server.has_value());
  auto reply = server->request("list", json());
  ASSERT_TRUE(reply.has_value()) << reply.error();
  EXPECT_EQ(reply->value["result"]["x"].get<std::string>().size(), 3000000u);
}

TEST(ServerClient, BrokenServersFailTheRequestWithAReason) {
  testing::TempFolder folder;
  struct Case { std::string name, body; int timeout_ms; std::string want; };
  const Case cases[] = {
      {"silent-exit", "exit 0", 5000, "the server closed its output"},
      {"not-json", "read line; echo 'hello'", 5000, "the server answered with no JSON object: hello"},
      {"other-id", "read line; echo '{\"id\":7,\"result\":{}}'", 5000,
       "the server answered another request: {\"id\":7,\"result\":{}}"},
      {"slow", "read line; sleep 1", 100, "no answer from the server within 100 ms"},
      {"tool-error", "read line; echo '{\"error\":{\"code\":-32000,\"message\":\"id required\"},\"id\":1}'", 5000,
       "id required"},
  };
  for (const Case& c : cases) {
    auto server = ServerProcess::start(script(folder.path(), c.name, c.body).string(), {"PATH=/usr/bin:/bin"});
    ASSERT_TRUE(server.has_value()) << c.name;
    auto reply = server->call_tool("get_note", json::object(), c.timeout_ms);
    ASSERT_FALSE(reply.has_value()) << c.name;
    EXPECT_EQ(reply.error(), c.want) << c.name;
  }
}

TEST(ServerClient, AMissingBinaryShowsAsAClosedOutput) {
  auto server = ServerProcess::start("/nonexistent/brask-tolvane-mcp", {});
  ASSERT_TRUE(server.has_value());
  auto reply = server->request("ping", json());
  ASSERT_FALSE(reply.has_value());
  EXPECT_EQ(reply.error(), "the server closed its output");
  EXPECT_EQ(server->finish().value_or(-1), 127);
}

}  // namespace
}  // namespace bench
