#pragma once
// Writing a YamlValue as YAML text with libyaml's emitter, in the one layout
// that note files use.

#include "base/error.hpp"
#include "yaml/yaml_value.hpp"

#include <string>

namespace core {

// `document` as one YAML document: block style, UTF-8 with non-ASCII
// characters as themselves, no line folding, indentation step 2, line feeds,
// no "---" or "..." markers (except the "..." that libyaml adds after a
// final block text that keeps trailing line feeds). The text ends with a
// line feed.
//
// Every text, key or value, is requested in double quotes when it holds
// U+2028 or U+2029 (escaped as \L and \P), as a literal block when it holds
// a line feed, in single quotes when as a plain scalar it would read back as
// something else (see yaml_value.hpp), and plain otherwise. The emitter
// falls back from there by itself: to single quotes where plain style cannot
// carry a text, to double quotes with escapes for non-printable characters
// or spaces at line ends, and to the explicit "? key" form for keys over 128
// bytes or spanning lines. Other scalars are written in their plain form,
// empty sequences and mappings as [] and {}.
//
// Fails (Yaml) with "text is not valid UTF-8" for such a text, or with the
// emitter's own description; no partial text is returned.
[[nodiscard]] Result<std::string> emit_yaml(const YamlValue& document);

}  // namespace core
