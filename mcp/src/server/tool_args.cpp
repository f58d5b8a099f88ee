#include "server/tool_args.hpp"

namespace mcp {

using nlohmann::json;

const json* argument(const json& arguments, std::string_view key) {
  if (!arguments.is_object()) return nullptr;
  auto it = arguments.find(key);
  return it == arguments.end() ? nullptr : &*it;
}

std::optional<std::string> string_argument(const json& arguments, std::string_view key) {
  const json* value = argument(arguments, key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::map<std::string, std::string> metas_argument(const json& arguments) {
  std::map<std::string, std::string> metas;
  const json* value = argument(arguments, "metas");
  if (!value || !value->is_object()) return metas;
  for (const auto& [key, member] : value->items())
    if (member.is_string()) metas.emplace(key, member.get<std::string>());
  return metas;
}

}  // namespace mcp
