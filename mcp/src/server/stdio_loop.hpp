#pragma once
// The server's only loop: JSON-RPC 2.0 requests, one per line, in; at most
// one response line per request out.

#include "server/protocol.hpp"
#include "server/tool_result.hpp"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace mcp {

// One parsed input line. An explicit null counts as absent for every member.
struct JsonRpcRequest {
  std::optional<std::string> jsonrpc;  // accepted, never examined
  std::optional<nlohmann::json> id;
  std::optional<std::string> method;
  std::optional<nlohmann::json> params;
};

// nullopt when the line is not one JSON object, a known member has the
// wrong type or occurs twice, arrays or objects nest 128 levels or deeper,
// or anything but white space follows the value.
std::optional<JsonRpcRequest> parse_request(std::string_view line);

// Write one envelope as a line and flush it. Write errors are ignored.
void write_result(std::ostream& out, const nlohmann::json& id, const nlohmann::json& result);
void write_error(std::ostream& out, const nlohmann::json& id, int code, std::string_view message);

// Reads `in` line by line until it ends or fails and answers each request on
// `out`; `tools/call` goes to `call`. Unparsable lines (invalid UTF-8
// included) are dropped and the loop goes on. Each `initialize` agrees on a
// version no newer than `newest` (see negotiate), and the lines after it
// are answered as that version says; before any, and always when `newest`
// is the default, every answer is that of 2024-11-05.
void run_loop(std::istream& in, std::ostream& out, const ToolCaller& call,
              ProtocolVersion newest = kDefaultProtocol);

}  // namespace mcp
