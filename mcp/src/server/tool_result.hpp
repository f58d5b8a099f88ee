#pragma once
// What one tool call gives back to the loop.

#include "server/content_text.hpp"

#include <nlohmann/json.hpp>

#include <expected>
#include <functional>
#include <string>
#include <variant>

namespace mcp {

// The failure of one tool call. Sent as a JSON-RPC error with code -32000,
// except where the session's version answers a failed tool with a result
// that says `isError` (see offers_structured_results); a protocol error
// (the server refuses tool calls, or there is no tool of that name) stays
// a JSON-RPC error on every version.
struct ToolError {
  std::string text;
  bool protocol_error = false;
};

// A result object, or its text written already (see ContentText); the loop
// sends either as the same bytes.
using ToolResult = std::variant<nlohmann::json, ContentText>;
using ToolOutcome = std::expected<ToolResult, ToolError>;

// Runs one `tools/call` with the tool's name and arguments. The loop takes it
// as a parameter so that tests can drive the loop with a stand-in.
using ToolCaller = std::function<ToolOutcome(const std::string& name, const nlohmann::json& arguments)>;

}  // namespace mcp
