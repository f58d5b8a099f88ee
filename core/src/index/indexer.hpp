#pragma once
// Writing notes into the index. The note store calls `index_note` after
// every write of a note file and `mark_note_deleted` when it deletes one;
// nothing else writes to the index.

#include "index/index_db.hpp"
#include "index/stored_path.hpp"
#include "base/error.hpp"
#include "note/note.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace core {

// The texts the index stores in tags_json and metas_json for a note with
// frontmatter `fm`: compact JSON, metas in key order. Fails with Json when a
// value is not valid UTF-8.
struct StoredJson {
  std::string tags;
  std::string metas;
};
[[nodiscard]] Result<StoredJson> stored_json(const NoteFrontmatter& fm);

// Writes everything the index holds for `note`, whose file is already on
// disk at `note.path`: its note_files row (live again if it was deleted),
// its full-text row, and one links row per link of its body. Title links
// are resolved to the one live note holding that title, if there is one;
// links to the note itself are not stored. Everything is written in one
// transaction: on failure the index is left as it was.
// Fails with Json when tags or metas cannot be written as JSON (invalid
// UTF-8), Database on any SQLite failure (for example another note row
// already holding the same stored path).
[[nodiscard]] Result<void> index_note(Vault& vault, const Note& note);

// The two halves of index_note, for a caller that writes many notes in its
// own transaction (which must be open): first every note's row and
// full-text row, then, once all rows are in, every note's links, so a
// title link to a note written later in the same run resolves. Together
// they write exactly what index_note writes.
[[nodiscard]] Result<void> write_note_rows(Vault& vault, const Note& note);
[[nodiscard]] Result<void> write_note_links(Vault& vault, const Note& note);

// mark_note_deleted inside the caller's open transaction.
[[nodiscard]] Result<void> write_note_deleted(Vault& vault, std::string_view id);

// Takes the note `id` out of the live index: sets its deleted_at to the
// current UTC time (SQLite's "YYYY-MM-DD HH:MM:SS") and removes its
// full-text row, in one transaction. Its links rows, as source and as
// target, stay. An id with no row changes nothing and is no failure.
// Fails with Database.
[[nodiscard]] Result<void> mark_note_deleted(Vault& vault, std::string_view id);

}  // namespace core
