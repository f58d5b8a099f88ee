#include "server/stdio_loop.hpp"

#include "server/catalogue.hpp"
#include "server/json_text.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace mcp {
namespace {

using nlohmann::json;

struct Recorded {
  std::string name;
  json arguments;
};

std::string run(std::string_view input, const ToolCaller& call) {
  std::istringstream in{std::string(input)};
  std::ostringstream out;
  run_loop(in, out, call);
  return out.str();
}

std::string run(std::string_view input) {
  return run(input, [](const std::string&, const json&) -> ToolOutcome { return json::object(); });
}

TEST(StdioLoop, AnswersTheBuiltInMethods) {
  EXPECT_EQ(run("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"x\":1}}\n"),
            "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"capabilities\":{\"tools\":{}},\"protocolVersion\":"
            "\"2024-11-05\",\"serverInfo\":{\"name\":\"brask-tolvane-mcp\",\"version\":\"0.1.0\"}}}\n");
  EXPECT_EQ(run("{\"id\":7,\"method\":\"ping\"}"), "{\"id\":7,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(run("{\"id\":\"a\",\"method\":\"nope\"}\n"),
            "{\"error\":{\"code\":-32601,\"message\":\"method not found\"},\"id\":\"a\",\"jsonrpc\":\"2.0\"}\n");
  EXPECT_EQ(run("{\"id\":null,\"method\":\"\"}\n{\"jsonrpc\":5.5}\n"),
            "{\"error\":{\"code\":-32601,\"message\":\"method not found\"},\"id\":null,\"jsonrpc\":\"2.0\"}\n");
}

TEST(StdioLoop, DropsUnparsableLinesAndGoesOn) {
  const std::string ping = "{\"id\":1,\"method\":\"ping\"}\n";
  const std::string answer = "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n";
  std::string deep = std::string(127, '[') + std::string(127, ']');
  std::string too_deep = "{\"id\":1,\"method\":\"ping\",\"params\":" + std::string(127, '[') + std::string(127, ']') + "}";
  for (std::string_view bad : {"", "   ", "nonsense", "{\"method\":1}", "{\"jsonrpc\":1,\"method\":\"ping\"}",
                               "{\"id\":1,\"method\":\"ping\",\"id\":2}", "{\"method\":\"ping\"} x", "[1,2]",
                               "{\"method\":\"ping\",\"method\":\"ping\"}", "\"ping\"", "{\"method\":\"p\xFFing\"}"})
    EXPECT_EQ(run(std::string(bad) + "\n" + ping), answer) << "line: " << bad;
  EXPECT_EQ(run(too_deep + "\n"), "");
  EXPECT_EQ(run("{\"id\":1,\"method\":\"ping\",\"params\":" + deep.substr(1, 252) + "}\n"), answer);
  EXPECT_EQ(run("{\"id\":1,\"method\":\"ping\",\"x\":1,\"x\":2}\n"), answer);
}

TEST(StdioLoop, IdsAreEchoedAsGiven) {
  EXPECT_EQ(run("{\"method\":\"ping\"}\n"), "{\"id\":null,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(run("{\"id\":null,\"method\":\"ping\"}\n"), "{\"id\":null,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(run("{\"id\":\"7\",\"method\":\"ping\"}\n"), "{\"id\":\"7\",\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(run("{\"id\":1.5,\"method\":\"ping\"}\n"), "{\"id\":1.5,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(run("{\"id\":{\"b\":1,\"a\":[2]},\"method\":\"ping\"}\n"),
            "{\"id\":{\"a\":[2],\"b\":1},\"jsonrpc\":\"2.0\",\"result\":{}}\n");
}

// A notification (no id, or a null one, and a "notifications/" method) is
// never answered; anything else without an id is answered with a null id.
TEST(StdioLoop, NotificationsGetNoAnswer) {
  const std::string not_found_null =
      "{\"error\":{\"code\":-32601,\"message\":\"method not found\"},\"id\":null,\"jsonrpc\":\"2.0\"}\n";
  struct Case { std::string_view line, want; };
  for (const Case& c : {
           Case{R"({"method":"notifications/cancelled","params":{"requestId":3,"reason":"stop"}})", ""},
           Case{R"({"jsonrpc":"2.0","method":"notifications/roots/list_changed"})", ""},
           Case{R"({"id":null,"method":"notifications/progress","params":{"progress":1}})", ""},
           Case{R"({"method":"notifications/"})", ""},
           Case{R"({"method":"notifications/initialized"})", ""},
           Case{R"({"id":3,"method":"notifications/initialized"})", ""},
           Case{R"({"id":4,"method":"notifications/cancelled"})",
                "{\"error\":{\"code\":-32601,\"message\":\"method not found\"},\"id\":4,\"jsonrpc\":\"2.0\"}\n"},
           Case{R"({"method":"notifications"})", not_found_null},
           Case{R"({"method":"Notifications/cancelled"})", not_found_null},
           Case{R"({"method":"nope"})", not_found_null},
           Case{R"({"method":"ping"})", "{\"id\":null,\"jsonrpc\":\"2.0\",\"result\":{}}\n"},
       })
    EXPECT_EQ(run(std::string(c.line) + "\n"), c.want) << "line: " << c.line;
}

TEST(StdioLoop, ToolsCallPassesNameAndArgumentsAndWrapsTheResult) {
  std::vector<Recorded> calls;
  auto fake = [&](const std::string& name, const json& arguments) -> ToolOutcome {
    calls.push_back({name, arguments});
    if (name == "fail") return std::unexpected(ToolError{"it \"failed\""});
    return json{{"z", "\u00e9/\x7f"}, {"a", {1, 2.5}}};
  };
  std::string out = run(
      "{\"id\":3,\"method\":\"tools/call\",\"params\":{\"name\":\"t\",\"arguments\":{\"k\":\"v\"}}}\n"
      "{\"id\":4,\"method\":\"tools/call\",\"params\":{\"name\":\"fail\",\"arguments\":null}}\n"
      "{\"id\":5,\"method\":\"tools/call\"}\n"
      "{\"id\":6,\"method\":\"tools/call\",\"params\":[1]}\n"
      "{\"id\":7,\"method\":\"tools/call\",\"params\":{\"name\":5}}\n",
      fake);
  EXPECT_EQ(out,
            "{\"id\":3,\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"{\\\"a\\\":[1,2.5],\\\"z\\\":"
            "\\\"\u00e9/\x7f\\\"}\",\"type\":\"text\"}]}}\n"
            "{\"error\":{\"code\":-32000,\"message\":\"it \\\"failed\\\"\"},\"id\":4,\"jsonrpc\":\"2.0\"}\n"
            "{\"id\":5,\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"{\\\"a\\\":[1,2.5],\\\"z\\\":"
            "\\\"\u00e9/\x7f\\\"}\",\"type\":\"text\"}]}}\n"
            "{\"id\":6,\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"{\\\"a\\\":[1,2.5],\\\"z\\\":"
            "\\\"\u00e9/\x7f\\\"}\",\"type\":\"text\"}]}}\n"
            "{\"id\":7,\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"{\\\"a\\\":[1,2.5],\\\"z\\\":"
            "\\\"\u00e9/\x7f\\\"}\",\"type\":\"text\"}]}}\n");
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].name, "t");
  EXPECT_EQ(calls[0].arguments, json({{"k", "v"}}));
  EXPECT_TRUE(calls[1].arguments.is_null());
  for (size_t i : {2u, 3u, 4u}) {
    EXPECT_EQ(calls[i].name, "");
    EXPECT_EQ(calls[i].arguments, json::object());
  }
}

TEST(StdioLoop, AnAnswerWrittenAsTextIsTheSameLineAsItsObject) {
  const json result = {{"notes", {{{"id", "a\"b"}, {"tags", json::array()}}}}, {"z", "\u00e9\t\x01"}};
  auto as_object = [&](const std::string&, const json&) -> ToolOutcome { return result; };
  auto as_text = [&](const std::string&, const json&) -> ToolOutcome { return ContentText::of(result); };
  for (const char* id : {"1", "\"x\"", "null", "{\"b\":1,\"a\":2}"}) {
    const std::string line =
        std::string("{\"id\":") + id + ",\"method\":\"tools/call\",\"params\":{\"name\":\"t\"}}\n";
    EXPECT_EQ(run(line, as_text), run(line, as_object)) << id;
  }
}

TEST(StdioLoop, LineEndings) {
  const std::string answer = "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n";
  EXPECT_EQ(run("{\"id\":1,\"method\":\"ping\"}\r\n"), answer);
  EXPECT_EQ(run("{\"id\":1,\"method\":\"ping\"}\r\n{\"id\":1,\"method\":\"ping\"}"), answer + answer);
  EXPECT_EQ(run("\r\n\n{\"id\":1,\"method\":\"ping\"}\n\n"), answer);
}


std::string run_up_to(ProtocolVersion newest, std::string_view input, const ToolCaller& call) {
  std::istringstream in{std::string(input)};
  std::ostringstream out;
  run_loop(in, out, call, newest);
  return out.str();
}

std::string initialize(std::string_view version) {
  return "{\"id\":0,\"method\":\"initialize\",\"params\":{\"protocolVersion\":\"" + std::string(version) +
         "\",\"capabilities\":{},\"clientInfo\":{\"name\":\"c\",\"version\":\"1\"}}}\n";
}

std::string answered_version(const std::string& line) {
  return json::parse(line)["result"]["protocolVersion"].get<std::string>();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The tools the session tests call: "ok" answers an object, "text" the
// same object as written text, "fail" fails as a tool, "gone" as a protocol
// error (no such tool).
ToolOutcome session_tool(const std::string& name, const json&) {
  const json result = {{"notes", {{{"id", "a\"b"}, {"tags", json::array()}}}}, {"z", "\u00e9\t"}};
  if (name == "ok") return result;
  if (name == "text") return ContentText::of(result);
  if (name == "fail") return std::unexpected(ToolError{"note not found: x"});
  return std::unexpected(ToolError{"unknown tool: " + name, /*protocol_error=*/true});
}

std::string tool_call(int id, std::string_view name) {
  return "{\"id\":" + std::to_string(id) + ",\"method\":\"tools/call\",\"params\":{\"name\":\"" + std::string(name) +
         "\"}}\n";
}

const std::string kPlainOk =
    R"({"id":1,"jsonrpc":"2.0","result":{"content":[{"text":"{\"notes\":[{\"id\":\"a\\\"b\",\"tags\":[]}],)"
    "\\\"z\\\":\\\"\u00e9\\\\t\\\"}\",\"type\":\"text\"}]}}";
const std::string kProtocolError = R"({"error":{"code":-32000,"message":"unknown tool: gone"},"id":4,"jsonrpc":"2.0"})";

// Without --protocol the asked version changes nothing: every answer is the
// one the server always gave.
TEST(StdioLoop, TheDefaultServerAnswers2024_11_05WhateverIsAsked) {
  const std::string default_answer =
      "{\"id\":0,\"jsonrpc\":\"2.0\",\"result\":{\"capabilities\":{\"tools\":{}},\"protocolVersion\":"
      "\"2024-11-05\",\"serverInfo\":{\"name\":\"brask-tolvane-mcp\",\"version\":\"0.1.0\"}}}";
  const std::string calls = tool_call(1, "ok") + tool_call(2, "fail") + "{\"id\":3,\"method\":\"tools/list\"}\n";
  const std::string plain = run(calls, session_tool);
  for (std::string_view asked : {"2024-11-05", "2025-03-26", "2025-06-18", "2025-11-25", "2026-07-28"}) {
    for (ProtocolVersion newest : {kDefaultProtocol, ProtocolVersion::k2024_11_05}) {
      const std::string out = run_up_to(newest, initialize(asked) + calls, session_tool);
      EXPECT_EQ(out, default_answer + "\n" + plain) << asked;
    }
  }
  EXPECT_EQ(lines_of(plain)[0], kPlainOk);
  EXPECT_EQ(lines_of(plain)[2], "{\"id\":3,\"jsonrpc\":\"2.0\",\"result\":" + to_json_text(tool_catalogue()) + "}");
}

TEST(StdioLoop, LaterLinesFollowTheVersionAgreed) {
  const std::string calls = tool_call(1, "ok") + tool_call(2, "text") + tool_call(3, "fail") + tool_call(4, "gone") +
                            "{\"id\":5,\"method\":\"tools/list\"}\n";
  const std::string plain = run(calls, session_tool);
  const std::string structured_ok =
      kPlainOk.substr(0, kPlainOk.size() - 2) + R"(,"structuredContent":{"notes":[{"id":"a\"b","tags":[]}],"z":")" +
      "\u00e9\\t\"}}}";
  const std::string is_error =
      R"({"id":3,"jsonrpc":"2.0","result":{"content":[{"text":"note not found: x","type":"text"}],"isError":true}})";
  const ProtocolVersion newest = ProtocolVersion::k2025_11_25;

  // Before any initialize the session speaks the default.
  EXPECT_EQ(run_up_to(newest, calls, session_tool), plain);

  for (std::string_view asked : {"2025-06-18", "2025-11-25"}) {
    const auto lines = lines_of(run_up_to(newest, initialize(asked) + calls, session_tool));
    ASSERT_EQ(lines.size(), 6u) << asked;
    EXPECT_EQ(answered_version(lines[0]), asked);
    EXPECT_EQ(lines[1], structured_ok) << asked;
    EXPECT_EQ(lines[2], "{\"id\":2" + structured_ok.substr(7)) << asked;
    EXPECT_EQ(lines[3], is_error) << asked;
    EXPECT_EQ(lines[4], kProtocolError) << asked;
    EXPECT_EQ(lines[5], "{\"id\":5,\"jsonrpc\":\"2.0\",\"result\":" +
                            to_json_text(tool_catalogue(*protocol_version_named(asked))) + "}")
        << asked;
  }

  // 2025-03-26 annotates the tools and answers calls as before.
  const auto annotated = lines_of(run_up_to(newest, initialize("2025-03-26") + calls, session_tool));
  ASSERT_EQ(annotated.size(), 6u);
  EXPECT_EQ(annotated[0], lines_of(run_up_to(ProtocolVersion::k2025_03_26, initialize("2025-03-26"), session_tool))[0]);
  EXPECT_EQ(answered_version(annotated[0]), "2025-03-26");
  const auto plain_lines = lines_of(plain);
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(annotated[i], plain_lines[i - 1]);
  EXPECT_EQ(annotated[5], "{\"id\":5,\"jsonrpc\":\"2.0\",\"result\":" +
                              to_json_text(tool_catalogue(ProtocolVersion::k2025_03_26)) + "}");

  // A second initialize agrees afresh.
  const auto again = lines_of(run_up_to(newest, initialize("2025-11-25") + initialize("2024-11-05") + calls,
                                        session_tool));
  ASSERT_EQ(again.size(), 7u);
  EXPECT_EQ(answered_version(again[1]), "2024-11-05");
  for (size_t i = 2; i < 7; ++i) EXPECT_EQ(again[i], plain_lines[i - 2]);
}

// Hosts that probe for a newer protocol first get "method not found" at
// once, then the newest handshake the server may speak.
TEST(StdioLoop, AProbeForANewerProtocolFallsBackToTheHandshake) {
  const auto lines = lines_of(run_up_to(ProtocolVersion::k2025_06_18,
                                        "{\"id\":1,\"method\":\"server/discover\"}\n" + initialize("2026-07-28") +
                                            "{\"id\":2,\"method\":\"initialize\"}\n",
                                        session_tool));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], R"({"error":{"code":-32601,"message":"method not found"},"id":1,"jsonrpc":"2.0"})");
  EXPECT_EQ(answered_version(lines[1]), "2025-06-18");
  EXPECT_EQ(answered_version(lines[2]), "2025-06-18");
}

}  // namespace
}  // namespace mcp
