#pragma once
// How every tool handler reads its arguments: leniently. A string argument
// is one that is present and a JSON string, used exactly as received; other
// types count as absent unless a tool says otherwise. Unknown arguments are
// ignored. Arguments that are not an object hold no arguments at all.

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mcp {

// The member `key` of `arguments`, or nullptr when absent (or `arguments` is
// not an object).
const nlohmann::json* argument(const nlohmann::json& arguments, std::string_view key);

// The text of `key` when it is a JSON string.
std::optional<std::string> string_argument(const nlohmann::json& arguments, std::string_view key);

// The string-valued members of the `metas` object, in key order; members of
// other types are left out, and a missing or non-object `metas` gives {}.
std::map<std::string, std::string> metas_argument(const nlohmann::json& arguments);

}  // namespace mcp
