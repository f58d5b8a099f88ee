#pragma once
// Single-value reads of live notes (deleted_at IS NULL) in the index, used
// on the write path. Ids and titles are bound as given; nothing is trimmed
// here.

#include "index/index_db.hpp"
#include "base/error.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace core {

// The stored path (relative to the vault root, "/" separators) of the live
// note `id`; nullopt when no live note has that id. Database on failure,
// including a value that is not text.
[[nodiscard]] Result<std::optional<std::string>> path_by_id(const Vault& vault, std::string_view id);

// The title of the live note `id` as last indexed; nullopt when no live
// note has that id. Database on failure.
[[nodiscard]] Result<std::optional<std::string>> title_by_id(const Vault& vault, std::string_view id);

// The id of the one live note whose title equals `title` after SQLite's
// trim (spaces only) and lower (ASCII letters only) on both sides; nullopt
// when no live note or more than one matches. Database on failure.
[[nodiscard]] Result<std::optional<std::string>> id_by_title(const Vault& vault, std::string_view title);

}  // namespace core
