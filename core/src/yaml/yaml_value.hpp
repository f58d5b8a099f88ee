#pragma once
// YAML values as the frontmatter keeps them, and how an unquoted scalar is
// typed. The frontmatter reader types plain scalars with these rules and the
// writer quotes every text that these rules would type as something else, so
// what is written reads back the same.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace core {

// Any YAML value kept for a frontmatter key that the system does not know.
// Scalars keep their YAML type; sequences and mappings keep their order.
// An integer outside the 64-bit range is a BigInteger holding its digits as
// written (for example 0xFFFFFFFFFFFFFFFFFF), so that it is written back
// unchanged rather than rounded to a float.
struct YamlValue {
  struct Null {
    bool operator==(const Null&) const = default;
  };
  struct BigInteger {
    std::string text;
    bool operator==(const BigInteger&) const = default;
  };
  using Sequence = std::vector<YamlValue>;
  using Mapping = std::vector<std::pair<std::string, YamlValue>>;
  std::variant<Null, bool, std::int64_t, double, std::string, Sequence, Mapping, BigInteger> value;

  bool operator==(const YamlValue&) const = default;
};

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
