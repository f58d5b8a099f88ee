#pragma once
// The one serialiser for every byte the server writes.

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace mcp {

// Compact JSON text: object members in ascending byte order of their keys
// at every level (nlohmann::json keeps objects in a sorted std::map),
// minimal escaping with lower-case \u00xx for the other control characters,
// raw UTF-8 otherwise, integers in decimal and other numbers in the shortest
// form that reads back to the same double. Never throws: a string that is
// not valid UTF-8 (none should reach here) has its bad bytes replaced.
std::string to_json_text(const nlohmann::json& value);

// Appends to `out` the text to_json_text gives for the string `text`,
// quotes included, without building a JSON value when `text` is valid
// UTF-8 (the usual case); other text goes through the serialiser.
void append_json_string(std::string& out, std::string_view text);

}  // namespace mcp
