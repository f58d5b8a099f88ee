#include "server/stdio_loop.hpp"

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

}  // namespace
}  // namespace mcp
