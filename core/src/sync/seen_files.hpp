#pragma once
// What the server last saw of each note file, so that following the files
// (sync/follow.hpp) reads only the files that changed since. Kept in two
// tables of the server's own in `index.db`, beside the shared ones, which
// other programs neither read nor need: a row of `bt_seen_files` says that
// when the file had this stamp, the index held what it holds (or the file
// was one that indexing leaves alone). The rows describe this index, so a
// replaced `index.db` brings its own (or none, and every file is read).
// Losing a row only costs a read of its file.

#include "base/error.hpp"
#include "base/files.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct Vault;

struct SeenFile {
  std::optional<std::string> id;  // the id it held; none for a file indexing leaves alone
  FileStamp stamp;
};

// By stored path ("notes/a.md").
using SeenFiles = std::map<std::string, SeenFile>;

// Creates the tables where missing. Fails with Database.
[[nodiscard]] Result<void> create_seen_tables(Vault& vault);

// Whether the tables are there (a vault the server has followed).
bool has_seen_tables(const Vault& vault);

// The rows whose stored path is `below` or starts with `below` + "/"; every
// row when `below` is empty. Fails with Database.
[[nodiscard]] Result<SeenFiles> read_seen(const Vault& vault, std::string_view below = "");

// The stored paths of the rows that hold `id`. Fails with Database.
[[nodiscard]] Result<std::vector<std::string>> seen_paths_holding(const Vault& vault, std::string_view id);

// Replaces the rows of `record` and removes those of `forget`, in the
// caller's transaction. Fails with Database.
[[nodiscard]] Result<void> write_seen(Vault& vault, const SeenFiles& record, const std::vector<std::string>& forget);

// The follower's last word on how it follows the vault, for `doctor`:
// "watch" (what it watches, or why it walks instead) and "since" (when
// that became so, UTC). Written only when it changes. Fails with Database.
[[nodiscard]] Result<void> write_follow_state(Vault& vault, std::string_view key, std::string_view value);
[[nodiscard]] Result<std::map<std::string, std::string>> read_follow_state(const Vault& vault);

}  // namespace core
