#include "server/stdio_loop.hpp"

#include "server/catalogue.hpp"
#include "server/json_text.hpp"
#include "server/server_info.hpp"

#include <array>
#include <istream>
#include <ostream>

namespace mcp {
namespace {

using nlohmann::json;

constexpr size_t kMaxDepth = 128;  // nesting this deep or deeper is refused

// Whether arrays and objects in `text` nest fewer than kMaxDepth levels.
// Checked before parsing so that no deep value is ever built.
bool nesting_is_shallow(std::string_view text) {
  size_t depth = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth >= kMaxDepth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

constexpr std::array<std::string_view, 4> kMembers = {"jsonrpc", "id", "method", "params"};

// Takes the text of a member that must be a string; null counts as absent.
bool take_text(const json& value, std::optional<std::string>& into) {
  if (value.is_null()) return true;
  if (!value.is_string()) return false;
  into = value.get<std::string>();
  return true;
}

json id_or_null(const JsonRpcRequest& request) { return request.id.value_or(json()); }

void write_line(std::ostream& out, const json& envelope) {
  out << to_json_text(envelope) << '\n';
  out.flush();
  out.clear();  // a closed pipe must not stop the loop from reading on
}

// A failed tool, where the session's version answers it as a result: the
// failure's text as the one text item, flagged `isError`.
void write_tool_failure(std::ostream& out, const JsonRpcRequest& request, const ToolError& error,
                        ProtocolVersion agreed) {
  if (error.protocol_error || !offers_structured_results(agreed)) {
    write_error(out, id_or_null(request), -32000, error.text);
    return;
  }
  write_result(out, id_or_null(request),
               {{"content", json::array({{{"text", error.text}, {"type", "text"}}})}, {"isError", true}});
}

void handle_tools_call(std::ostream& out, const JsonRpcRequest& request, const ToolCaller& call,
                       ProtocolVersion agreed) {
  const json params = request.params.value_or(json::object());
  std::string name;
  json arguments = json::object();
  if (params.is_object()) {
    if (auto it = params.find("name"); it != params.end() && it->is_string()) name = it->get<std::string>();
    if (auto it = params.find("arguments"); it != params.end()) arguments = *it;
  }
  ToolOutcome outcome = call(name, arguments);
  if (!outcome) {
    write_tool_failure(out, request, outcome.error(), agreed);
    return;
  }
  // The envelope's bytes, written around the answer's text instead of
  // copying that text into a tree and serialising it again.
  ContentText text;
  if (auto* value = std::get_if<json>(&*outcome)) {
    const json result = std::move(*value);
    text = ContentText::of(result);
  } else {
    text = std::move(std::get<ContentText>(*outcome));
  }
  outcome = json();  // the result's tree is not needed while the line is written
  out << "{\"id\":" << to_json_text(id_or_null(request))
      << ",\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"";
  text.write_to(out);
  out << "\",\"type\":\"text\"}]";
  if (offers_structured_results(agreed)) {
    // The same object once more, as itself; "structuredContent" sorts after "content".
    out << ",\"structuredContent\":";
    text.write_json_to(out);
  }
  out << "}}\n";
  out.flush();
  out.clear();  // a closed pipe must not stop the loop from reading on
}

// A notification expects no answer, and JSON-RPC forbids giving one: hosts
// send "notifications/cancelled" and the like routinely, and treat any
// answer to them as a protocol fault.
bool is_notification(const JsonRpcRequest& request, std::string_view method) {
  return !request.id && method.starts_with("notifications/");
}

// What one session has agreed on: the newest version the server may speak,
// and the version the last `initialize` chose (the default before any).
struct Session {
  ProtocolVersion newest;
  ProtocolVersion agreed = kDefaultProtocol;
};

void handle(std::ostream& out, const JsonRpcRequest& request, const ToolCaller& call, Session& session) {
  const std::string method = request.method.value_or("");
  if (is_notification(request, method)) return;
  if (method == "initialize") {
    session.agreed = negotiate(request.params, session.newest);
    write_result(out, id_or_null(request), initialize_result(session.agreed));
  } else if (method == "ping") {
    write_result(out, id_or_null(request), json::object());
  } else if (method == "tools/list") {
    write_result(out, id_or_null(request), tool_catalogue(session.agreed));
  } else if (method == "tools/call") {
    handle_tools_call(out, request, call, session.agreed);
  } else if (method != "notifications/initialized") {
    write_error(out, id_or_null(request), -32601, "method not found");
  }
}

}  // namespace

std::optional<JsonRpcRequest> parse_request(std::string_view line) {
  if (!nesting_is_shallow(line)) return std::nullopt;
  // Count top-level members as the parser meets them: a known member that
  // occurs twice makes the line unparsable, while a plain parse would keep
  // the last one.
  std::array<int, kMembers.size()> seen{};
  bool duplicate = false;
  auto count_members = [&](int depth, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::key && depth == 1)
      for (size_t i = 0; i < kMembers.size(); ++i)
        if (parsed.is_string() && parsed.get_ref<const std::string&>() == kMembers[i] && ++seen[i] > 1)
          duplicate = true;
    return true;
  };
  json value = json::parse(line, count_members, /*allow_exceptions=*/false);
  if (value.is_discarded() || !value.is_object() || duplicate) return std::nullopt;

  JsonRpcRequest request;
  if (auto it = value.find("jsonrpc"); it != value.end() && !take_text(*it, request.jsonrpc)) return std::nullopt;
  if (auto it = value.find("method"); it != value.end() && !take_text(*it, request.method)) return std::nullopt;
  if (auto it = value.find("id"); it != value.end() && !it->is_null()) request.id = std::move(*it);
  if (auto it = value.find("params"); it != value.end() && !it->is_null()) request.params = std::move(*it);
  return request;
}

void write_result(std::ostream& out, const json& id, const json& result) {
  write_line(out, {{"id", id}, {"jsonrpc", "2.0"}, {"result", result}});
}

void write_error(std::ostream& out, const json& id, int code, std::string_view message) {
  write_line(out, {{"error", {{"code", code}, {"message", message}}}, {"id", id}, {"jsonrpc", "2.0"}});
}

void run_loop(std::istream& in, std::ostream& out, const ToolCaller& call, ProtocolVersion newest) {
  Session session{newest};
  std::string line;
  while (std::getline(in, line)) {
    // getline has removed the line feed; one carriage return before it goes
    // too. A last line without a line feed keeps what it ends with.
    if (!in.eof() && !line.empty() && line.back() == '\r') line.pop_back();
    if (auto request = parse_request(line)) handle(out, *request, call, session);
  }
}

}  // namespace mcp
