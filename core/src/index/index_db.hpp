#pragma once
// An opened vault: its root directory and the one connection to its index,
// `.brask-tolvane/index.db`. A vault is opened per tool call and closed when
// the call drops it.

#include "index/sqlite.hpp"
#include "index/statement_cache.hpp"
#include "index/stored_path.hpp"  // kOddStoredPath, which the open adds an index for
#include "base/error.hpp"

#include <filesystem>
#include <string_view>

namespace core {

struct Vault {
  std::filesystem::path root;  // as passed to open_vault; note paths are built from it
  DbHandle connection;         // exclusively owned; closed with the vault
  // Whether the full-text rows of a note can be found by its id through an
  // index (see open_vault); otherwise they are found by scanning.
  bool fts_note_id_indexed = false;
  // Whether links can be found by the title they name through an index, and
  // notes with an oddly spelled stored path through another (see open_vault).
  bool link_titles_indexed = false;
  bool odd_paths_indexed = false;
  // Statements the write path runs again and again (the indexer's, the
  // lookups'), prepared once per vault; declared after `connection` so they
  // are finalised before it closes. Borrowing one changes nothing a
  // reader of the vault can see, hence usable through a const vault.
  mutable StatementCache statements;

  // The connection for statements of other units; lives as long as the vault.
  sqlite3* db() const { return connection.get(); }
};

// Opens the vault at `root`: checks that `root/.brask-tolvane` exists (of
// any kind), opens or creates `index.db` in it, switches on WAL journaling
// and foreign keys, and creates any missing table or index. Opening an
// existing index changes nothing in it. Besides the shared schema it adds,
// once, indexes that only speed up this system's own lookups; they follow
// every write of any program and change no result. If one cannot be made
// (a read-only file, a full-text table of another layout) the statements
// that would use it fall back to scanning.
// Fails with Message "not a vault: <root>" (root as given) when the marker
// cannot be examined, without creating anything; with Database when the
// index cannot be opened, is not a SQLite file, or the schema cannot be
// applied (the connection is then closed).
[[nodiscard]] Result<Vault> open_vault(const std::filesystem::path& root);

}  // namespace core
