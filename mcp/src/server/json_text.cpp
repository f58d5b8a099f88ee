#include "server/json_text.hpp"

#include "base/text.hpp"

namespace mcp {

std::string to_json_text(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void append_json_string(std::string& out, std::string_view text) {
  if (!core::is_valid_utf8(text)) {
    out += to_json_text(nlohmann::json(std::string(text)));
    return;
  }
  // The serialiser's escapes: `"` and `\`, the short forms, lower-case
  // \u00xx for the other control characters, every other byte as it is.
  constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(start, i - start));
    start = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text.substr(start));
  out += '"';
}

}  // namespace mcp
