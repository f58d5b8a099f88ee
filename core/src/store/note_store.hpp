#pragma once
// The note store: the by-id read path and the only writer of note files and,
// through the indexer, of the index. Every change ends in `save_note`.
//
// Files are the source of truth: a note is found through the path the index
// holds for it first, then by its file name anywhere under `notes`. A file
// is note X when its frontmatter id is X (a file without frontmatter is the
// note it was found for). Other programs copy, rename and sync files, so a
// file found for X may hold another note: reads give that note as it is,
// and no write ever changes, replaces or removes a file holding another
// note's id (the change fails with "the file <path> holds note <other>, not
// note <X>", and nothing changes).
//
// A change is all or nothing: its new files are written beside their
// targets and its index statements run before any file is put in place,
// and the files replaced are kept until the index has committed (see
// file_changes.hpp), so a change that fails leaves the files and the index
// as they were.
//
// Every change below takes the index's write lock (BEGIN IMMEDIATE, with
// SQLite's busy wait) before it reads the note it changes, holds it through
// the file and index writes (a retitle's link rewrites in other notes
// included) and commits once. Changes by any process through this store are
// so never interleaved, and a lock that cannot be had fails the change with
// "database error: database is locked" and nothing written. A note file
// that may not be written (see check_note_file_writable) is never replaced:
// saving or moving it fails with "IO error: Permission denied", and a
// retitle leaves the links inside it as they are.

#include "base/error.hpp"
#include "note/note.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace core {

struct Vault;

struct UpsertNoteInput {
  std::string title;                          // required; trimmed before use
  std::string body;                           // required; trimmed before use
  std::optional<std::string> id;              // the note to update, or the id to create it with
  std::optional<std::string> workspace_id;
  std::map<std::string, std::string> metas;   // the note's complete metas
};

struct UpsertNoteResult {
  std::string id;
  std::string title;
  std::string updated;  // the timestamp the save wrote
  bool created = false;
};

struct SetMetasResult {
  std::string id;
  std::string updated;
  std::map<std::string, std::string> metas;  // complete, after the change
};

// The note with this id, read from its file: one that holds the id, else
// the first file found for it (its frontmatter then names another id, which
// the note carries). Fails with NotFound "note not found: " followed by the
// id when no file can be found, or with the file's Io, Yaml or "unclosed
// frontmatter" error.
[[nodiscard]] Result<Note> get_note(const Vault& vault, std::string_view id);

// Creates a note, or updates the one named by `input.id` in place (title,
// body, metas, workspace replaced; tags recomputed from the title; id,
// created_at and extra kept). Fails with Invalid "title is required" or
// "body is required" for blank texts, Invalid "invalid note id: <id>" for an
// id that cannot name a file, the error of an existing file that cannot be
// read (it is never replaced), Conflict "the file <path> holds note <other>,
// not note <id>" for a file holding another note, or any error of
// `save_note`.
[[nodiscard]] Result<UpsertNoteResult> upsert_note(Vault& vault, const UpsertNoteInput& input);

// Merges `metas` into the note's metas, or replaces them when `replace`, and
// saves the note. Fails with Invalid "id is required" for a blank id, the
// Conflict of a file holding another note, or an error of `get_note` or
// `save_note`.
[[nodiscard]] Result<SetMetasResult> set_metas(Vault& vault, std::string_view id,
                                               const std::map<std::string, std::string>& metas, bool replace);

// Moves the note's file to `<notes>/<folder>/<id>.md` (folder normalised,
// never outside `notes`); moving to where it is writes nothing. The old
// file goes once the index has committed. Fails with Invalid "invalid note
// id: <id>" for an id that cannot name a file or "invalid folder: <folder>"
// for a folder holding a NUL, Message "a file exists at <path>" when
// another file has the destination's name (nothing is written over it), or
// an error of `get_note` or `save_note`.
[[nodiscard]] Result<void> move_note(Vault& vault, std::string_view id, std::string_view folder);

// Moves the note's file, wherever it is, into the vault's trash (see
// trash.hpp) and marks its index row deleted. The file moved is the one
// holding the note, else the one the id finds (a copy of another note
// found by its name goes to the trash, recoverable; only the row of `id` is
// marked), so a delete that succeeds leaves no file the id still reads. An
// id with no file puts nothing in the trash. Fails with Io when the entry
// named like the note is not a file or a symbolic link, or cannot be moved,
// and with Conflict "the file <path> holds note <other>, not note <id>"
// when the file found is the one the index places that other note in (its
// own file, renamed by hand); the file and the index row are then
// unchanged.
[[nodiscard]] Result<void> delete_note(Vault& vault, std::string_view id);

// Whether the note `id` is in use: the index holds a live row for it, or a
// file is found for it as get_note finds one. Fails with Database.
[[nodiscard]] Result<bool> note_in_use(const Vault& vault, std::string_view id);

// Places (when `note.path` is empty), stamps `updated`, writes and indexes
// the note; with `propagate`, a title that differs from the indexed one is
// carried into the [[title]] links of its own body and of the notes linking
// to it. On success `note` holds what was written.
[[nodiscard]] Result<void> save_note(Vault& vault, Note& note, bool propagate);

}  // namespace core
