#pragma once
// Reading one YAML document into a tree of nodes, with aliases resolved.
// The tree keeps what the frontmatter reader needs to tell shapes apart:
// whether a scalar was plain (so its type follows from its characters) and
// where each node starts, for error messages.

#include "base/error.hpp"
#include "yaml/yaml_value.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct YamlNode {
  enum class Kind { Scalar, Sequence, Mapping };
  Kind kind = Kind::Scalar;
  // Scalar: its characters with quotes, escapes and block indentation undone.
  std::string text;
  // Scalar: true when its type follows from `text` (plain and untagged, or
  // tagged !!null, !!bool, !!int or !!float); quoted, block and !!str
  // scalars are text whatever their characters.
  bool typed_by_text = false;
  // Sequence: the items. Mapping: key, value, key, value... in file order.
  // An alias shares the node of its anchor rather than copying it.
  std::vector<std::shared_ptr<const YamlNode>> children;
  std::size_t line = 0;    // 1-based, counted from `first_line` below
  std::size_t column = 0;  // 1-based
  std::size_t height = 1;  // 1 for a scalar, 1 + the tallest child otherwise
  // True when an alias occurs anywhere within this node (so, on the root,
  // anywhere in the document).
  bool holds_alias = false;
};

// The one document in `text`; `first_line` is the line number of the first
// line of `text` (for messages). Fails (Yaml) with libyaml's description and
// position for a syntax error, and with:
//   "no YAML document" when `text` holds only comments or blank lines;
//   "more than one YAML document";
//   "unknown alias `a` at line L column C";
//   "nesting deeper than 64 levels at line L column C" (aliases included).
[[nodiscard]] Result<std::shared_ptr<const YamlNode>> parse_yaml_document(std::string_view text,
                                                                         std::size_t first_line);

// What taking values out of one document may cost in all: 16 MiB, counted
// as the bytes of every text copied out plus a fixed charge per value. An
// alias shares its anchor's node, so a few bytes of nested aliases can
// stand for gigabytes of copies; one budget per document, charged by every
// reader of every field, keeps any document's values within the limit.
class YamlBudget {
 public:
  // `document` is the root of the document the budget is for; the messages
  // speak of aliases only when it holds any.
  explicit YamlBudget(const YamlNode& document);

  // Charges one value taken from `node`, with `text_bytes` of text. Fails
  // (Yaml), once the budget is spent, with "value at line L column C is too
  // large after resolving aliases" when the document holds aliases, and
  // "value at line L column C is too large (more than 16 MiB in all)" when
  // it holds none.
  [[nodiscard]] Result<void> spend(const YamlNode& node, std::size_t text_bytes);

 private:
  std::size_t left_;
  bool aliases_;
};

// The YamlValue of `node`, charged to `budget`: typed scalars resolved as
// plain scalars, other scalars as text, mapping keys as the text of their
// scalars, and a key that repeats within one mapping keeping its first place
// and its last value. Fails (Yaml) with "mapping key at line L column C is
// not a scalar", or as YamlBudget::spend does.
[[nodiscard]] Result<YamlValue> to_yaml_value(const YamlNode& node, YamlBudget& budget);

// " at line L column C" for `node`, as used in the messages above.
std::string position_of(const YamlNode& node);

}  // namespace core
