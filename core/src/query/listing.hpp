#pragma once
// Listing: the live notes of a vault from the index, newest first,
// optionally only one folder's and only those carrying one tag.

#include "base/error.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace core {

struct Vault;

struct NoteListItem {
  std::string id;
  std::string title;
  std::string updated_at;
  std::vector<std::string> tags;  // from the index; empty when unreadable there
  std::string path;               // relative to the vault root
};

// The live notes, newest first. `folder` keeps only notes directly in that
// folder under `notes` (normalised; "" is `notes` itself; case-sensitive).
// `tag` (when not blank) keeps notes with a tag equal to it once leading "#"
// are removed from both and ASCII case is ignored. `limit` cuts the result
// last. Reads the index only. Fails with Database.
[[nodiscard]] Result<std::vector<NoteListItem>> list_notes(const Vault& vault, const std::optional<std::string>& folder,
                                                           const std::optional<std::string>& tag,
                                                           std::optional<std::uint64_t> limit);

// The same notes in the same order, each handed to `visit` as it is read
// instead of gathered: a listing of the whole vault then holds one row at a
// time (a folder's listing holds that folder's rows, to order them). When it
// fails, `visit` may have seen some rows already.
[[nodiscard]] Result<void> for_each_listed_note(const Vault& vault, const std::optional<std::string>& folder,
                                                const std::optional<std::string>& tag,
                                                std::optional<std::uint64_t> limit,
                                                const std::function<void(const NoteListItem&)>& visit);

}  // namespace core
