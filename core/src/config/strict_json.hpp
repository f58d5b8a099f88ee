#pragma once
// Strict reading of configuration files. The configuration readers treat a
// file as malformed when a key they know occurs twice in one object, which a
// plain JSON parse hides (it keeps one of the values); the parse here keeps
// going but reports every repeated key with the object it occurs in.

#include <nlohmann/json.hpp>

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Where an object sits in a document: the member keys leading to it from the
// top-level value, with nullopt for each array element on the way (which
// element is not recorded). The top-level object has the empty path; each
// element of the top-level member "vaults" has {"vaults", nullopt}.
using JsonObjectPath = std::vector<std::optional<std::string>>;

// A key that occurs more than once in one object.
struct RepeatedKey {
  JsonObjectPath object_path;
  std::string key;
};

struct StrictJson {
  nlohmann::json value;  // a repeated key holds the value of its last occurrence
  std::vector<RepeatedKey> repeated_keys;
};

// Parses `text` as exactly one JSON value with nothing but JSON white space
// around it. nullopt when the text is not valid UTF-8, starts with a byte
// order mark, is not JSON or has other characters after the value.
[[nodiscard]] std::optional<StrictJson> parse_strict_json(std::string_view text);

// parse_strict_json with the reason for a failure, for a person: "not valid
// UTF-8", "starts with a byte order mark", or the JSON parser's message
// with its line and column ("line 3, column 1: syntax error while parsing
// object - unexpected '}'; expected string literal").
[[nodiscard]] std::expected<StrictJson, std::string> parse_strict_json_explained(std::string_view text);

// Whether `repeated` names one of `keys` in the object at `where`.
bool repeats_any(const std::vector<RepeatedKey>& repeated, const JsonObjectPath& where,
                 std::initializer_list<std::string_view> keys);

}  // namespace core
