#include "server/content_text.hpp"

#include "server/json_text.hpp"

#include <algorithm>

namespace mcp {
namespace {

constexpr size_t kPiece = size_t{1} << 20;

// The escape of a byte that cannot stand for itself in a JSON string.
std::string_view escape_of(unsigned char c, char (&buffer)[7]) {
  switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
  }
  constexpr char kHex[] = "0123456789abcdef";
  buffer[0] = '\\', buffer[1] = 'u', buffer[2] = '0', buffer[3] = '0';
  buffer[4] = kHex[c >> 4], buffer[5] = kHex[c & 0xF], buffer[6] = '\0';
  return std::string_view(buffer, 6);
}

}  // namespace

ContentText ContentText::of(const nlohmann::json& value) {
  ContentText text;
  text.append_json(value);
  return text;
}

void ContentText::append(std::string_view json_text) {
  char buffer[7];
  size_t start = 0;
  for (size_t i = 0; i < json_text.size(); ++i) {
    const auto c = static_cast<unsigned char>(json_text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    put(json_text.substr(start, i - start));
    put(escape_of(c, buffer));
    start = i + 1;
  }
  put(json_text.substr(start));
}

void ContentText::append_json(const nlohmann::json& value) { append(to_json_text(value)); }

// The first piece grows as a string does, so a small answer costs no more
// than its size; later pieces are reserved whole, so none is ever copied.
void ContentText::put(std::string_view escaped) {
  while (!escaped.empty()) {
    if (pieces_.empty() || pieces_.back().size() >= kPiece) {
      pieces_.emplace_back();
      if (pieces_.size() > 1) pieces_.back().reserve(kPiece);
    }
    std::string& last = pieces_.back();
    const size_t take = std::min(escaped.size(), kPiece - last.size());
    last.append(escaped.substr(0, take));
    escaped.remove_prefix(take);
  }
}

void ContentText::write_to(std::ostream& out) const {
  for (const std::string& piece : pieces_) out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
}

std::string ContentText::str() const {
  std::string all;
  for (const std::string& piece : pieces_) all += piece;
  return all;
}

}  // namespace mcp
