#pragma once
// The trash: where a deleted note's file goes instead of being destroyed,
// and from where the vault's owner can bring it back. Nothing is purged
// automatically.
//
// The trash is the folder `.brask-tolvane/trash` of the vault root. A
// trashed note is its file, byte for byte, named `<stamp>-<id>.md`, where
// the stamp is the UTC time of the delete to the microsecond,
// "20261209T145257.123456Z", so that names sort by time. Beside it,
// `<stamp>-<id>.json` records where the file was, as the index stores paths:
// {"path":"notes/projects/n.md"}. A note file without its record is
// restored into `notes` under the name `<id>.md`; a record without its
// note file is ignored.

#include "base/error.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct Vault;

using TrashClock = std::chrono::system_clock;

struct TrashEntry {
  std::filesystem::path file;  // the trashed note file
  std::string id;              // the id it was deleted by
  std::string deleted_at;      // RFC 3339 UTC to the microsecond: "2026-12-09T14:52:57.123456+00:00"
  TrashClock::time_point deleted{};
  std::string original_path;   // "notes/projects/n.md"; "notes/<id>.md" without a record
  std::string folder;          // folder_of(original_path): "projects"
  std::string title;           // from the file's frontmatter; empty when it does not read
  std::uintmax_t size = 0;     // bytes of the note file
};

struct TrashSummary {
  std::size_t count = 0;       // trashed notes
  std::uintmax_t bytes = 0;    // their note files' sizes together
};

// `<root>/.brask-tolvane/trash`.
std::filesystem::path trash_folder(const std::filesystem::path& root);

// Moves `file`, the note `id`'s file below `<root>/notes` (a regular file or
// a symbolic link), into the trash, stamped with `now`, and writes its
// record first. A stamp already taken (the same id deleted twice within a
// microsecond) moves on to the next free microsecond, so every delete keeps
// its own version. Creates the trash folder when missing.
// Fails with Io when the folder cannot be made or written, or the file not
// moved; `file` is then where it was and the trash holds nothing new.
[[nodiscard]] Result<void> move_to_trash(const std::filesystem::path& root, const std::filesystem::path& file,
                                         std::string_view id, TrashClock::time_point now);

// Every trashed note, newest first (ties by id). No trash folder: none.
// Fails with Io when the folder exists but cannot be listed.
[[nodiscard]] Result<std::vector<TrashEntry>> list_trash(const std::filesystem::path& root);

// How many notes the trash holds and how many bytes their files take.
[[nodiscard]] Result<TrashSummary> trash_summary(const std::filesystem::path& root);

struct RestoredNote {
  std::string id;    // the note's id after the restore
  std::string path;  // where it is now, as the index stores it
};

// Puts the newest trashed version of `id` back: into the folder it came
// from, or into `notes` when that folder is gone, under its old file name.
// The file goes back byte for byte (its `updated` is not touched), and the
// index rows are written as a save of that file writes them. With `as_id`,
// the note is instead written as `<as_id>.md` with `as_id` as its
// frontmatter id. Then its trash entry is removed.
// Refuses, changing nothing, with Message:
//   "nothing in the trash for id: <id>"
//   "invalid note id: <as_id>"
//   "a note with id <id> exists"
//   "a file exists at <path>"
// and fails with the Io, Yaml or "unclosed frontmatter" error of a trashed
// file that does not read. A Database error of the indexing comes after
// the file is back (reads then fall back to the file).
[[nodiscard]] Result<RestoredNote> restore_from_trash(const Vault& vault, std::string_view id,
                                                      std::optional<std::string_view> as_id);

// Removes the trashed notes deleted before `before` (all when nullopt),
// records included, and gives what they were.
// Fails with Io at the first entry that cannot be removed; those before it
// are gone.
[[nodiscard]] Result<std::vector<TrashEntry>> empty_trash(const std::filesystem::path& root,
                                                          std::optional<TrashClock::time_point> before);

}  // namespace core
