#pragma once
// The index against the note files: which files the index lacks or holds
// differently from what a save would write, which live rows have lost their
// file, and which files cannot be taken in at all. Reads only.

#include "base/error.hpp"
#include "base/files.hpp"
#include "note/note.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

struct Vault;

// A file that is left alone; `path` is stored-path form ("notes/a.md").
struct FileProblem {
  std::string path;
  std::string error;  // the reader's display text
};

// Files that all hold the same id; none of them is indexed.
struct DuplicateId {
  std::string id;
  std::vector<std::string> paths;  // sorted
};

// A note whose index rows are missing or differ from its file.
struct NoteChange {
  Note note;                        // as read from the file
  bool is_new = false;              // no row, or only a deleted one
  std::vector<std::string> differs; // for a live row: "title", "tags", "metas", "workspace", "path", "body"
  std::optional<FileStamp> stamp;   // the file's, taken before it was read
};

struct VaultComparison {
  // The index's PRAGMA data_version on the comparing connection, read before
  // its rows: it moves when another connection commits, so a writer can
  // tell later whether the rows are still those compared. nullopt when it
  // could not be read.
  std::optional<std::int64_t> data_version;
  std::size_t files = 0;      // `.md` files under notes/
  std::size_t live_rows = 0;  // rows not marked deleted
  std::vector<NoteChange> to_index;               // by path
  std::vector<std::string> gone;                  // ids of live rows whose file is gone, sorted
  std::vector<FileProblem> unreadable;            // by path
  std::vector<std::string> without_frontmatter;   // paths; their ids would be made up
  std::vector<DuplicateId> duplicates;            // by id

  bool in_step() const {
    return to_index.empty() && gone.empty() && unreadable.empty() && without_frontmatter.empty() &&
           duplicates.empty();
  }
};

// One `*.md` entry a walk found, with its stamp (through links) taken as it
// was met; none when it could not be read (a link that leads nowhere).
struct WalkedFile {
  std::filesystem::path path;
  std::optional<FileStamp> stamp;
};

// What one walk of a folder found.
struct NotesWalk {
  std::vector<WalkedFile> files;  // every `*.md` entry that is not a folder
  std::vector<std::filesystem::path> folders;  // every folder walked, the first one first
  std::vector<std::pair<std::filesystem::path, std::string>> unlisted;  // folders that could not be listed, and why
};

// Every `*.md` entry under `folder` at any depth, through links to folders
// as the store writes through them. The real folders are walked first and
// the links to folders after, in path order, so a folder that can be
// reached without a link is always met by its own path; a folder reached a
// second time (a link loop, two links to one folder) is walked once. Files
// come in listing order. Nothing when `folder` is not one.
// `before_listing`, when given, is called with each folder just before it
// is listed.
using BeforeListing = std::function<void(const std::filesystem::path&)>;
NotesWalk walk_notes(const std::filesystem::path& folder, const BeforeListing& before_listing = {});

// Why `<root>/notes` cannot be walked, for a person: "notes/ is missing",
// "notes/ is a link that leads nowhere", "notes/ is not a folder" or
// "notes/ cannot be read: <reason>". nullopt when it is a folder (or a link
// to one) that can be listed. A vault whose notes folder cannot be walked
// says nothing about its notes: an unmounted disk is not "every note gone".
std::optional<std::string> notes_folder_problem(const std::filesystem::path& root);

// Walks `notes/` (walk_notes), reads each file and compares
// it with the index. A row counts as differing when its title, tags, metas
// (compared as JSON values), workspace, stored path, or full-text title or
// body is not what indexing the file would write. A live row is gone only
// when no file holds its id and its stored path is not one of the files
// left alone (unreadable, no frontmatter, duplicate id) nor inside a folder
// that could not be listed (listed among `unreadable`), so a row is never
// dropped for a file that merely failed to read. Fails with Message
// (notes_folder_problem's text) when `notes/` cannot be walked, and with
// Database when the index cannot be read.
[[nodiscard]] Result<VaultComparison> compare_vault(const Vault& vault);

// What indexing `note` (read from its file, whose stamp before the read was
// `stamp`) would change: its row is missing, deleted, or differs as
// compare_vault tells. nullopt when the row holds what the file does.
// Fails with Database.
[[nodiscard]] Result<std::optional<NoteChange>> compare_note(const Vault& vault, Note note,
                                                             std::optional<FileStamp> stamp);

// For a writer that holds the index's write lock: `seen` as it stands now.
// When the file's stamp is no longer `seen.stamp`, or `rows_changed`
// (another connection committed since the comparison), the file is read
// and compared with its row again. nullopt when the note needs no write
// any more: its file no longer reads or no longer holds its id, or its row
// now holds what the file does. Fails with Database.
[[nodiscard]] Result<std::optional<NoteChange>> recheck_change(const Vault& vault, const NoteChange& seen,
                                                               bool rows_changed);

// For a writer that holds the write lock: whether the row `id`, found gone,
// is still live and still without its file. False when it is no longer
// live, or when its stored path or `notes/<id>.md` is a file that holds
// `id` (or one that cannot be read, which is never taken for gone).
// Fails with Database.
[[nodiscard]] Result<bool> still_gone(const Vault& vault, std::string_view id);

// PRAGMA data_version of the vault's connection; nullopt when it cannot be read.
std::optional<std::int64_t> data_version(const Vault& vault);

}  // namespace core
