#pragma once
// An opened vault: its root directory and the one connection to its index,
// `.brask-tolvane/index.db`. A vault lives as long as its owner keeps it: a
// command's run, or the server's calls for as long as `index.db` stays the
// same file.

#include "index/sqlite.hpp"
#include "index/statement_cache.hpp"
#include "index/stored_path.hpp"  // kOddStoredPath, which the open adds an index for
#include "base/error.hpp"

#include <filesystem>
#include <string_view>

namespace core {

struct Vault {
  // Takes over `connection`, an open connection to the index of the vault at
  // `root`, and notes which of this system's lookup indexes (see open_vault)
  // the index holds: the one way a vault is made, whether by open_vault or
  // over a connection opened otherwise (read-only, say).
  Vault(std::filesystem::path root, DbHandle connection);

  std::filesystem::path root;  // as passed to open_vault; note paths are built from it
  DbHandle connection;         // exclusively owned; closed with the vault
  // Whether the full-text rows of a note can be found by its id through an
  // index (see open_vault); otherwise they are found by scanning.
  bool fts_note_id_indexed = false;
  // Whether links can be found by the title they name through an index, and
  // notes with an oddly spelled stored path through another (see open_vault).
  bool link_titles_indexed = false;
  bool odd_paths_indexed = false;

  // The connection for statements of other units; lives as long as the vault.
  // A const vault is one its user only reads: the operations that change
  // the index or the note files take a vault they may change.
  sqlite3* db() const { return connection.get(); }

  // The cached statement for `sql`, prepared on first use and kept as long
  // as the connection (see StatementCache::lend): any statement, writes
  // included, hence only through a vault the caller may change.
  [[nodiscard]] Result<StatementCache::Lease> lend(std::string_view sql) { return statements_.lend(db(), sql); }
  // The same for a reader: `sql` must only read (SQLite says whether a
  // statement writes), else this fails with Database and nothing is kept
  // prepared. Preparing a statement changes nothing a reader of the vault
  // can see, so a const vault may do it.
  [[nodiscard]] Result<StatementCache::Lease> lend_query(std::string_view sql) const;

 private:
  // Declared after `connection`, so its statements are finalised before
  // the connection closes.
  mutable StatementCache statements_;
};

// Borrows `sql` from `vault`, binds `values` as `Statement::bind_all` does
// and steps it to the end, ignoring rows: `run_statement` without preparing
// the statement again.
template <class... Values>
[[nodiscard]] Result<void> run_cached(Vault& vault, std::string_view sql, const Values&... values) {
  auto stmt = vault.lend(sql);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = (*stmt)->bind_all(values...); !bound) return bound;
  return (*stmt)->run();
}

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
