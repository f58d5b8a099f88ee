#pragma once
// How an unquoted YAML scalar is typed. The frontmatter reader types plain
// scalars with these rules and the writer quotes every text that these rules
// would type as something else, so what is written reads back the same.

#include "note/note.hpp"

#include <string>
#include <string_view>

namespace core {

// The value of a plain, untagged scalar whose characters are `text`:
// - null: the empty text, "~", null, Null, NULL;
// - boolean: true, True, TRUE, false, False, FALSE;
// - integer: an optional sign, then decimal digits (leading zeros allowed,
//   still decimal) or 0x, 0o, 0b followed by hexadecimal, octal or binary
//   digits; a BigInteger keeping `text` when it does not fit 64 bits;
// - float: an optional sign, then digits with a fraction or an exponent or
//   both (".5" and "1." count), or .inf, .Inf, .INF with an optional sign,
//   or .nan, .NaN, .NAN; decimal forms too large for a double are infinite;
// - text: anything else, unchanged.
YamlValue resolve_plain_scalar(std::string_view text);

// Whether a plain scalar holding `text` reads back as the text itself.
bool reads_as_text(std::string_view text);

// The plain form of a scalar that is not text: null, true, false, a decimal
// integer, the text of a BigInteger, the shortest decimal form of a double
// that reads back as the same double (always with a "." and, for large or
// small magnitudes, an exponent), .nan, .inf or -.inf. A text is returned
// unchanged; sequences and mappings give the empty text.
std::string plain_form(const YamlValue& scalar);

}  // namespace core
