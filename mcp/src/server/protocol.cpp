#include "server/protocol.hpp"

#include <array>

namespace mcp {
namespace {

using enum ProtocolVersion;

constexpr std::array kVersions = {k2024_11_05, k2025_03_26, k2025_06_18, k2025_11_25};

}  // namespace

std::span<const ProtocolVersion> protocol_versions() { return kVersions; }

std::string_view version_text(ProtocolVersion version) {
  switch (version) {
    case k2024_11_05: return "2024-11-05";
    case k2025_03_26: return "2025-03-26";
    case k2025_06_18: return "2025-06-18";
    case k2025_11_25: return "2025-11-25";
  }
  return "2024-11-05";  // not reached: every enumerator is handled above
}

std::optional<ProtocolVersion> protocol_version_named(std::string_view text) {
  for (ProtocolVersion version : kVersions)
    if (version_text(version) == text) return version;
  return std::nullopt;
}

ProtocolVersion negotiate(const std::optional<nlohmann::json>& params, ProtocolVersion newest) {
  if (!params || !params->is_object()) return newest;
  const auto asked = params->find("protocolVersion");
  if (asked == params->end() || !asked->is_string()) return newest;
  const std::optional<ProtocolVersion> known = protocol_version_named(asked->get_ref<const std::string&>());
  return known && *known <= newest ? *known : newest;
}

bool offers_tool_annotations(ProtocolVersion version) { return version >= k2025_03_26; }
bool offers_structured_results(ProtocolVersion version) { return version >= k2025_06_18; }
bool offers_server_description(ProtocolVersion version) { return version >= k2025_11_25; }

}  // namespace mcp
