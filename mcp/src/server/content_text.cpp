#include "server/content_text.hpp"

#include "server/json_text.hpp"

#include <algorithm>
#include <sstream>

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

void write_view(std::ostream& out, std::string_view text) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Escaping looks at one byte at a time, so a piece boundary never splits
// what it writes.
void write_escaped(std::ostream& out, std::string_view json_text) {
  char buffer[7];
  size_t start = 0;
  for (size_t i = 0; i < json_text.size(); ++i) {
    const auto c = static_cast<unsigned char>(json_text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    write_view(out, json_text.substr(start, i - start));
    write_view(out, escape_of(c, buffer));
    start = i + 1;
  }
  write_view(out, json_text.substr(start));
}

}  // namespace

ContentText ContentText::of(const nlohmann::json& value) {
  ContentText text;
  text.append_json(value);
  return text;
}

// The first piece grows as a string does, so a small answer costs no more
// than its size; later pieces are reserved whole, so none is ever copied.
void ContentText::append(std::string_view json_text) {
  while (!json_text.empty()) {
    if (pieces_.empty() || pieces_.back().size() >= kPiece) {
      pieces_.emplace_back();
      if (pieces_.size() > 1) pieces_.back().reserve(kPiece);
    }
    std::string& last = pieces_.back();
    const size_t take = std::min(json_text.size(), kPiece - last.size());
    last.append(json_text.substr(0, take));
    json_text.remove_prefix(take);
  }
}

void ContentText::append_json(const nlohmann::json& value) { append(to_json_text(value)); }

void ContentText::write_to(std::ostream& out) const {
  for (const std::string& piece : pieces_) write_escaped(out, piece);
}

void ContentText::write_json_to(std::ostream& out) const {
  for (const std::string& piece : pieces_) write_view(out, piece);
}

std::string ContentText::str() const {
  std::ostringstream out;
  write_to(out);
  return std::move(out).str();
}

}  // namespace mcp
