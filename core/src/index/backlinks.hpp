#pragma once
// Which notes link to a note, read from the links rows of the index (the
// index stores links on the linking side only). Neither query loads files.

#include "index/index_db.hpp"
#include "base/error.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace core {

struct Backlink {
  std::string id;
  std::string title;  // as indexed in note_files

  bool operator==(const Backlink&) const = default;
};

// The live notes other than `id` with a link to it: by identifier, or by
// an unresolved title link naming the title the index holds for `id`
// (compared after SQLite's trim and ASCII lower). One entry per note,
// ordered by title with ASCII case ignored; the order of equal titles is
// not fixed. An unknown id gives an empty list. Fails with Database.
[[nodiscard]] Result<std::vector<Backlink>> list_backlinks(const Vault& vault, std::string_view id);

// The ids of the notes, live or deleted, other than `id` with a link row
// that targets `id` or names `title` (the note's title before a rename;
// trim and ASCII lower on both sides), in byte order. These are the notes
// whose [[title]] links a rename may have to rewrite. Fails with Database.
[[nodiscard]] Result<std::vector<std::string>> linking_sources(const Vault& vault, std::string_view id,
                                                               std::string_view title);

}  // namespace core
