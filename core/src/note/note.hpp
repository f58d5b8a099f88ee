#pragma once
// A note in memory: its frontmatter record, its Markdown body and its path.

#include "yaml/yaml_value.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace core {

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
