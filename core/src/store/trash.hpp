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
// {"path":"notes/projects/n.md"}. An id that cannot be part of a file name
// as it is (one holding "/", "\" or NUL, or longer than 200 bytes) is
// written there shortened, with "_" for those characters, and the record
// then keeps the whole id: {"id":"a/b","path":"notes/x.md"}. A note file
// without its record is restored into `notes` under the name `<id>.md`; a
// record without its note file is ignored.

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
// An instant as the trash keeps it, to the microsecond: far enough for any
// year a stamp can name, and for any day count `empty` accepts.
using TrashTime = std::chrono::sys_time<std::chrono::microseconds>;

struct TrashEntry {
  std::filesystem::path file;  // the trashed note file
  std::string id;              // the id it was deleted by
  std::string deleted_at;      // RFC 3339 UTC to the microsecond: "2026-12-09T14:52:57.123456+00:00"
  TrashTime deleted{};
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

// A note file moved into the trash, and how to take the move back.
struct TrashMove {
  std::filesystem::path from;     // where the file was
  std::filesystem::path trashed;  // the file in the trash
  std::filesystem::path record;   // its record
  // Moves the file back where it was and removes the record. Fails with Io;
  // the file is then still in the trash.
  [[nodiscard]] Result<void> undo() const;
};

// Moves `file`, the note `id`'s file below `<root>/notes` (a regular file or
// a symbolic link), into the trash, stamped with `now`, and writes its
// record first. A stamp already taken (the same id deleted twice within a
// microsecond) moves on to the next free microsecond, so every delete keeps
// its own version. Creates the trash folder when missing.
// Fails with Io when the folder cannot be made or written, or the file not
// moved; `file` is then where it was and the trash holds nothing new.
[[nodiscard]] Result<TrashMove> move_to_trash(const std::filesystem::path& root, const std::filesystem::path& file,
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

// Puts the newest trashed version of `id` (the id it was deleted by) back:
// into the folder it came from, or into `notes` when that folder is gone,
// under its old file name, as the note its frontmatter names. The file goes
// back byte for byte (its `updated` is not touched), and the index rows are
// written as a save of that file writes them. With `as_id`, the note is
// instead written as `<as_id>.md` with `as_id` as its frontmatter id (a
// file without frontmatter gets one). Then its trash entry is removed.
// Like every change it holds the index's write lock throughout, and the
// file leaves the trash only with the index commit: a restore that fails
// leaves the trash, the notes and the index as they were.
// Refuses, changing nothing, with
//   NotFound "nothing in the trash for id: <id>"
//   Invalid "invalid note id: <as_id>"
//   Invalid "the trashed file of <id> has no frontmatter, so it names no id" (without `as_id`)
//   Conflict "a note with id <the id it comes back as> exists" (a live index row, or a file found for it)
//   Message "a file exists at <path>"
// and fails with the Io, Yaml or "unclosed frontmatter" error of a trashed
// file that does not read, or the Database error of the lock or the index.
[[nodiscard]] Result<RestoredNote> restore_from_trash(Vault& vault, std::string_view id,
                                                      std::optional<std::string_view> as_id);

// Removes the trashed notes deleted before `before` (all when nullopt),
// records included, and gives what they were.
// Fails with Io at the first entry that cannot be removed; those before it
// are gone.
[[nodiscard]] Result<std::vector<TrashEntry>> empty_trash(const std::filesystem::path& root,
                                                          std::optional<TrashTime> before);

}  // namespace core
