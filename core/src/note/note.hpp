#pragma once
// A note in memory: its frontmatter record, its Markdown body and its path.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
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

// The frontmatter block of a note file. Keys are written in field order,
// then every `extra` entry in key order.
struct NoteFrontmatter {
  std::string id;
  std::string title;
  std::vector<std::string> tags;               // as read: no trimming, folding or de-duplication
  std::map<std::string, std::string> metas;    // sorted by key, byte order
  std::optional<std::string> workspace_id;
  std::optional<std::string> created_at;       // RFC 3339 text, carried unparsed
  std::string updated;                         // RFC 3339 text; written as key `updated`
  std::map<std::string, YamlValue> extra;      // every other top-level key

  bool operator==(const NoteFrontmatter&) const = default;
};

struct Note {
  NoteFrontmatter frontmatter;
  std::string body;              // byte for byte as it follows the frontmatter
  std::filesystem::path path;    // absolute in the core; empty when not yet placed
};

}  // namespace core
