#pragma once
// The MCP protocol versions the server speaks, the handshake's choice among
// them, and which version brings which feature. Each feature rule is written
// here once; the loop, the catalogue and the handshake ask these functions.

#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string_view>

namespace mcp {

// Oldest first; a later version offers everything an earlier one does.
enum class ProtocolVersion { k2024_11_05, k2025_03_26, k2025_06_18, k2025_11_25 };

// The version the server speaks when started without --protocol, and in a
// session that has not (yet) agreed on another.
inline constexpr ProtocolVersion kDefaultProtocol = ProtocolVersion::k2024_11_05;

// Every version, oldest first.
std::span<const ProtocolVersion> protocol_versions();

// The version's name as the protocol writes it, "2024-11-05" and so on.
std::string_view version_text(ProtocolVersion version);

// The version named exactly `text`, or nullopt.
std::optional<ProtocolVersion> protocol_version_named(std::string_view text);

// The version an `initialize` with `params` agrees on when the server may
// speak up to `newest`: the client's `protocolVersion` when it names a
// version no newer than `newest`, else `newest` itself (also when the member
// is missing, not a string, or names a version the server does not know,
// older or newer). Never fails: the client decides whether to go on.
ProtocolVersion negotiate(const std::optional<nlohmann::json>& params, ProtocolVersion newest);

// From 2025-03-26: tools carry `annotations` (the four behaviour hints).
bool offers_tool_annotations(ProtocolVersion version);

// From 2025-06-18: tools carry a `title` and an `outputSchema`; a successful
// call carries `structuredContent` beside its text, and a failed one is a
// result with `isError` instead of a JSON-RPC error.
bool offers_structured_results(ProtocolVersion version);

// From 2025-11-25: `serverInfo` carries a `title` and a `description`, and
// the `initialize` result carries `instructions` for the agent.
bool offers_server_description(ProtocolVersion version);

}  // namespace mcp
