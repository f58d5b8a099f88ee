#pragma once
// The text of a tool's answer, built once: the JSON of the result written
// straight into the form it takes inside the answer line, escaped as the
// content of a JSON string, in pieces of at most a mebibyte. A listing of a
// whole vault thus never exists as a JSON tree, as compact text and again as
// escaped text at the same time; its peak is about the size of the line.

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace mcp {

class ContentText {
 public:
  // The text of `value` as to_json_text writes it, escaped.
  static ContentText of(const nlohmann::json& value);

  // Appends JSON text (valid UTF-8, as to_json_text writes it), escaped as
  // the serialiser escapes a string: `"` and `\`, the short forms \b \f \n
  // \r \t, lower-case \u00xx for the other control characters, everything
  // else as it is.
  void append(std::string_view json_text);
  // Appends `value` as to_json_text writes it, escaped.
  void append_json(const nlohmann::json& value);

  // Writes the escaped text, without quotes.
  void write_to(std::ostream& out) const;
  // The escaped text in one string (for tests).
  std::string str() const;

 private:
  void put(std::string_view escaped);
  std::vector<std::string> pieces_;
};

}  // namespace mcp
