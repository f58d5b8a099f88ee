#pragma once
// An opened vault: its root directory and the one connection to its index,
// `.brask-tolvane/index.db`. A vault is opened per tool call and closed when
// the call drops it.

#include "index/sqlite.hpp"
#include "note/error.hpp"

#include <filesystem>

namespace core {

struct Vault {
  std::filesystem::path root;  // as passed to open_vault; note paths are built from it
  DbHandle connection;         // exclusively owned; closed with the vault

  // The connection for statements of other units; lives as long as the vault.
  sqlite3* db() const { return connection.get(); }
};

// Opens the vault at `root`: checks that `root/.brask-tolvane` exists (of
// any kind), opens or creates `index.db` in it, switches on WAL journaling
// and foreign keys, and creates any missing table or index. Opening an
// existing index changes nothing in it.
// Fails with Message "not a vault: <root>" (root as given) when the marker
// cannot be examined, without creating anything; with Database when the
// index cannot be opened, is not a SQLite file, or the schema cannot be
// applied (the connection is then closed).
[[nodiscard]] Result<Vault> open_vault(const std::filesystem::path& root);

}  // namespace core
