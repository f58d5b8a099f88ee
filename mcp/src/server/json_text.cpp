#include "server/json_text.hpp"

namespace mcp {

std::string to_json_text(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace mcp
