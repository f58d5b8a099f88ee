#pragma once
// The text of a tool's answer, built once: the compact JSON of the result,
// kept in pieces of at most a mebibyte and escaped as the content of a JSON
// string only while it is written. A listing of a whole vault thus never
// exists as a JSON tree, as compact text and again as escaped text at the
// same time; its peak is about the size of the line.

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace mcp {

class ContentText {
 public:
  // The text of `value` as to_json_text writes it.
  static ContentText of(const nlohmann::json& value);

  // Appends JSON text (valid UTF-8, as to_json_text writes it).
  void append(std::string_view json_text);
  // Appends `value` as to_json_text writes it.
  void append_json(const nlohmann::json& value);

  // Writes the text escaped as the serialiser escapes a string, without
  // quotes: `"` and `\`, the short forms \b \f \n \r \t, lower-case \u00xx
  // for the other control characters, everything else as it is.
  void write_to(std::ostream& out) const;
  // Writes the JSON text itself, unescaped (a structured result).
  void write_json_to(std::ostream& out) const;
  // The escaped text in one string (for tests).
  std::string str() const;

 private:
  std::vector<std::string> pieces_;
};

}  // namespace mcp
