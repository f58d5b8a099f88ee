#pragma once
// The index against the note files: which files the index lacks or holds
// differently from what a save would write, which live rows have lost their
// file, and which files cannot be taken in at all. Reads only.

#include "base/error.hpp"
#include "note/note.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace core {

struct Vault;

// A file that is left alone; `path` is stored-path form ("notes/a.md").
struct FileProblem {
  std::string path;
  std::string error;  // the reader's display text
};

// Files that all hold the same id; none of them is indexed.
struct DuplicateId {
  std::string id;
  std::vector<std::string> paths;  // sorted
};

// A note whose index rows are missing or differ from its file.
struct NoteChange {
  Note note;                        // as read from the file
  bool is_new = false;              // no row, or only a deleted one
  std::vector<std::string> differs; // for a live row: "title", "tags", "metas", "workspace", "path", "body"
};

struct VaultComparison {
  std::size_t files = 0;      // `.md` files under notes/
  std::size_t live_rows = 0;  // rows not marked deleted
  std::vector<NoteChange> to_index;               // by path
  std::vector<std::string> gone;                  // ids of live rows whose file is gone, sorted
  std::vector<FileProblem> unreadable;            // by path
  std::vector<std::string> without_frontmatter;   // paths; their ids would be made up
  std::vector<DuplicateId> duplicates;            // by id

  bool in_step() const {
    return to_index.empty() && gone.empty() && unreadable.empty() && without_frontmatter.empty() &&
           duplicates.empty();
  }
};

// Walks `notes/` (every `*.md` file at any depth; links to folders are not
// followed), reads each file and compares it with the index. A row counts
// as differing when its title, tags, metas (compared as JSON values),
// workspace, stored path, or full-text title or body is not what indexing
// the file would write. A live row is gone only when no file holds its id
// and its stored path is not one of the files left alone (unreadable, no
// frontmatter, duplicate id), so a row is never dropped for a file that
// merely failed to read. Fails with Database when the index cannot be read.
[[nodiscard]] Result<VaultComparison> compare_vault(const Vault& vault);

}  // namespace core
