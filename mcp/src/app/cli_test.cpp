#include "app/cli.hpp"

#include "testing/server_process.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace mcp {
namespace {

using testing::run_server;

const std::string kPing = "{\"id\":1,\"method\":\"ping\"}\n";

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args) text += "[" + a + "]";
  return text;
}

TEST(Cli, VersionAndHelpPrintAndExitWithoutServing) {
  struct Case { std::vector<std::string> args; std::string out; };
  for (const Case& c : {Case{{"--version"}, "brask-tolvane-mcp 0.1.0\n"}, Case{{"--help"}, std::string(usage_text())}}) {
    // A ping on stdin shows whether the loop ran: it must not.
    auto run = run_server(BT_SERVER_BINARY, kPing, {}, c.args);
    EXPECT_EQ(run.out, c.out) << "args: " << joined(c.args);
    EXPECT_EQ(run.err, "") << "args: " << joined(c.args);
    EXPECT_EQ(run.exit_status, 0) << "args: " << joined(c.args);
  }
}

TEST(Cli, HelpNamesTheProtocolAndTheConfigurationFiles) {
  const std::string usage(usage_text());
  for (std::string_view part : {"Usage: brask-tolvane-mcp [--help | --version]\n", "standard input and output",
                                "$HOME/.config/brask-tolvane/mcp.json", "$HOME/.config/brask-tolvane/settings.json",
                                "BRASK_TOLVANE_VAULT", "\"enabled\" to true"})
    EXPECT_NE(usage.find(part), std::string::npos) << "missing: " << part;
}

TEST(Cli, AnyOtherArgumentIsAUsageErrorOnStderr) {
  struct Case { std::vector<std::string> args; std::string first_line; };
  const Case cases[] = {
      {{"-v"}, "brask-tolvane-mcp: unknown argument: -v\n"},
      {{"--Version"}, "brask-tolvane-mcp: unknown argument: --Version\n"},
      {{"-h"}, "brask-tolvane-mcp: unknown argument: -h\n"},
      {{""}, "brask-tolvane-mcp: unknown argument: \n"},
      {{"--version=1"}, "brask-tolvane-mcp: unknown argument: --version=1\n"},
      {{"/tmp/vault"}, "brask-tolvane-mcp: unknown argument: /tmp/vault\n"},
      {{"--version", "x"}, "brask-tolvane-mcp: unexpected argument: x\n"},
      {{"--help", "--help"}, "brask-tolvane-mcp: unexpected argument: --help\n"},
      {{"x", "--help"}, "brask-tolvane-mcp: unknown argument: x\n"},
  };
  for (const Case& c : cases) {
    auto run = run_server(BT_SERVER_BINARY, kPing, {}, c.args);
    EXPECT_EQ(run.out, "") << "args: " << joined(c.args);
    EXPECT_EQ(run.err, c.first_line + std::string(usage_text())) << "args: " << joined(c.args);
    EXPECT_EQ(run.exit_status, 2) << "args: " << joined(c.args);
  }
}

TEST(Cli, EmptyArgumentListIsAUsageError) {
  std::ostringstream out, err;
  EXPECT_EQ(run_command_line({}, out, err), 2);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "brask-tolvane-mcp: missing argument: expected --help or --version\n" + std::string(usage_text()));
}

TEST(Cli, WithoutArgumentsTheLoopStartsAtOnce) {
  // No HOME: the loop must not need it, nor touch anything before it reads.
  auto run = run_server(BT_SERVER_BINARY, kPing, {});
  EXPECT_EQ(run.out, "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
}

TEST(Cli, VersionMatchesTheServerInfoOfInitialize) {
  auto run = run_server(BT_SERVER_BINARY, "{\"id\":1,\"method\":\"initialize\"}\n");
  auto answer = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_TRUE(answer.is_object()) << run.out;
  const auto& info = answer["result"]["serverInfo"];
  ASSERT_TRUE(info["name"].is_string() && info["version"].is_string()) << run.out;
  EXPECT_EQ(info["name"].get<std::string>() + " " + info["version"].get<std::string>(), version_text());
}


TEST(Cli, ServingOptionsInAnyOrderEachOnce) {
  struct Case { std::vector<std::string_view> args; std::optional<std::string> vault; ProtocolVersion protocol; };
  const Case cases[] = {
      {{}, std::nullopt, ProtocolVersion::k2024_11_05},
      {{"--vault", "/v"}, "/v", ProtocolVersion::k2024_11_05},
      {{"--vault=/v"}, "/v", ProtocolVersion::k2024_11_05},
      {{"--protocol", "2025-11-25"}, std::nullopt, ProtocolVersion::k2025_11_25},
      {{"--protocol=2025-03-26"}, std::nullopt, ProtocolVersion::k2025_03_26},
      {{"--vault", "/v", "--protocol", "2025-06-18"}, "/v", ProtocolVersion::k2025_06_18},
      {{"--protocol=2024-11-05", "--vault=--protocol"}, "--protocol", ProtocolVersion::k2024_11_05},
  };
  for (const Case& c : cases) {
    const auto options = serve_options(c.args);
    ASSERT_TRUE(options) << c.args.size();
    EXPECT_EQ(options->vault, c.vault);
    EXPECT_EQ(options->protocol, c.protocol);
  }
}

TEST(Cli, AProtocolTheServerDoesNotSpeakIsAUsageError) {
  struct Case { std::vector<std::string> args; std::string first_line; };
  const Case cases[] = {
      {{"--protocol", "2025-01-01"}, "brask-tolvane-mcp: unsupported protocol version: 2025-01-01\n"},
      {{"--protocol=2026-07-28"}, "brask-tolvane-mcp: unsupported protocol version: 2026-07-28\n"},
      {{"--protocol="}, "brask-tolvane-mcp: unsupported protocol version: \n"},
      {{"--vault", "/v", "--protocol", "latest"}, "brask-tolvane-mcp: unsupported protocol version: latest\n"},
      {{"--protocol"}, "brask-tolvane-mcp: missing value: --protocol\n"},
      {{"--vault", "/v", "--protocol"}, "brask-tolvane-mcp: missing value: --protocol\n"},
      {{"--protocol", "2025-06-18", "--protocol", "2025-06-18"}, "brask-tolvane-mcp: unexpected argument: --protocol\n"},
      {{"--vault=/v", "--vault=/w"}, "brask-tolvane-mcp: unexpected argument: --vault=/w\n"},
      {{"--protocol", "2025-06-18", "doctor"}, "brask-tolvane-mcp: unexpected argument: doctor\n"},
      {{"--protocolx"}, "brask-tolvane-mcp: unknown argument: --protocolx\n"},
  };
  for (const Case& c : cases) {
    auto run = run_server(BT_SERVER_BINARY, kPing, {}, c.args);
    EXPECT_EQ(run.out, "") << "args: " << joined(c.args);
    EXPECT_EQ(run.err, c.first_line + std::string(usage_text())) << "args: " << joined(c.args);
    EXPECT_EQ(run.exit_status, 2) << "args: " << joined(c.args);
  }
}

TEST(Cli, HelpNamesTheProtocolVersions) {
  const std::string usage(usage_text());
  for (std::string_view part : {"--protocol P", "2024-11-05", "2025-03-26", "2025-06-18", "2025-11-25"})
    EXPECT_NE(usage.find(part), std::string::npos) << "missing: " << part;
}

}  // namespace
}  // namespace mcp
