#pragma once
// The frontmatter block of a note file: its YAML text and NoteFrontmatter.

#include "base/error.hpp"
#include "note/note.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace core {

// Reads the YAML text between the delimiter lines; `first_line` is the file
// line where `yaml_text` starts, for positions in messages. The document
// must be a mapping with scalar keys:
// - id, title, updated: required; any scalar, as its characters;
// - workspace_id, created_at: a plain empty, ~ or null scalar means none;
// - tags: a sequence of scalars, or nothing after the key for none;
// - metas: a mapping of scalars to scalars (all as text), or nothing after
//   the key; a repeated meta key keeps its last value;
// - any other key goes to `extra`; a repeated one keeps its last value.
// Tags are kept as written (not derived from the title here). The values of
// all fields together are charged to one YamlBudget, so aliases cannot make
// the frontmatter cost more than 16 MiB however they are spread.
// Fails (Yaml) with libyaml's description of a syntax error, "missing field
// `id`", "duplicate field `title`", "frontmatter is not a mapping at line L
// column C", "invalid type for field `tags`: expected a sequence, found a
// scalar at line L column C" and the like, or a failure of yaml_read.hpp
// (the budget's "value at line L column C is too large..." among them).
[[nodiscard]] Result<NoteFrontmatter> read_frontmatter(std::string_view yaml_text, std::size_t first_line);

// The YAML text of `frontmatter` (ending with a line feed): id, title, tags,
// metas, workspace_id and created_at when present, updated, then the
// `extra` entries in key order. Tags are written as held, even when empty.
// An `extra` entry named like one of those seven keys is left out (the field
// wins), so the text always reads back. Fails as emit_yaml does.
[[nodiscard]] Result<std::string> write_frontmatter(const NoteFrontmatter& frontmatter);

}  // namespace core
