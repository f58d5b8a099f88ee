// One request line through the server loop, with a stand-in tool caller
// that echoes what it was given (or fails for the name "fail"), so every
// path of the loop but the tools themselves is reached.
//
// Checked beyond "no crash": the loop answers with at most one line per
// input line, and every answer is one JSON-RPC 2.0 object, both for the
// default server and for one that may agree on the newest protocol.

#include "server/stdio_loop.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

mcp::ToolOutcome stand_in(const std::string& name, const nlohmann::json& arguments) {
  if (name == "fail") return std::unexpected(mcp::ToolError{"failed: " + arguments.dump()});
  return nlohmann::json{{"name", name}, {"arguments", arguments}};
}

void check_answers(const std::string& input, mcp::ProtocolVersion newest) {
  std::istringstream in(input);
  std::ostringstream out;
  mcp::run_loop(in, out, stand_in, newest);

  std::size_t input_lines = 1;
  for (char c : input) input_lines += c == '\n';
  std::istringstream answers(out.str());
  std::size_t answer_lines = 0;
  for (std::string line; std::getline(answers, line);) {
    ++answer_lines;
    const auto answer = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!answer.is_object() || answer.value("jsonrpc", "") != "2.0" || !answer.contains("id")) std::abort();
  }
  if (answer_lines > input_lines) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  check_answers(input, mcp::kDefaultProtocol);
  check_answers(input, mcp::ProtocolVersion::k2025_11_25);
  return 0;
}
