#include "store/note_store.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/lookups.hpp"
#include "index/backlinks.hpp"
#include "index/sqlite.hpp"
#include "links/link_rewrite.hpp"
#include "base/ids.hpp"
#include "note/note_file.hpp"
#include "store/note_file_finder.hpp"
#include "store/note_paths.hpp"
#include "store/trash.hpp"
#include "base/text.hpp"

#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

namespace core {
namespace {

namespace fs = std::filesystem;

bool entry_exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool path_exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::status(path, ec));
}

// The absolute path the index holds for a live note, if it is safe to use.
// A database error counts as "no path": callers fall back to the files.
std::optional<fs::path> indexed_path(const Vault& vault, std::string_view id) {
  auto stored = path_by_id(vault, id);
  if (!stored || !*stored) return std::nullopt;
  return safe_stored_path(vault, **stored);
}

// Where the note with `id` is, or would be created; nullopt only for an id
// that cannot name a file and that the index does not place.
std::optional<fs::path> locate_note_file(const Vault& vault, std::string_view id) {
  if (auto indexed = indexed_path(vault, id); indexed && path_exists(*indexed)) return indexed;
  auto found = find_note_file(vault.root / "notes", id);
  if (found && *found) return *found;  // a failed search falls through to the default place
  return default_note_path(vault, id);
}

// The note with `id`, nullopt when no file exists for it.
Result<std::optional<Note>> find_note(const Vault& vault, std::string_view id) {
  auto path = locate_note_file(vault, id);
  if (!path || !path_exists(*path)) return std::nullopt;
  auto note = read_note_file(*path);
  if (!note) return std::unexpected(std::move(note.error()));
  return std::move(*note);
}

CoreError not_found(std::string_view id) { return CoreError::message("note not found: " + std::string(id)); }
CoreError invalid_id(std::string_view id) { return CoreError::message("invalid note id: " + std::string(id)); }

Note new_note(std::string title, std::string body) {
  Note note;
  note.frontmatter.id = new_note_id();
  note.frontmatter.tags = extract_hashtags(title);
  note.frontmatter.title = std::move(title);
  note.frontmatter.created_at = now_timestamp();
  note.frontmatter.updated = *note.frontmatter.created_at;
  note.body = std::move(body);
  return note;
}

bool same_title(std::string_view a, std::string_view b) { return ascii_iequals(trim(a), trim(b)); }

// Every change holds the index's write lock from before it reads the note it
// changes until its files and index rows are written, and commits once: two
// writers (two servers on one vault) then never interleave their
// read-modify-write, and a lock that cannot be had (after SQLite's busy
// wait) fails the change before any file is touched. Index writes inside
// become savepoints of this transaction.
Result<Transaction> begin_change(const Vault& vault) { return Transaction::begin_immediate(vault.db()); }

// Carries a retitle into the notes whose links name the old title. A note
// that has no file any more (deleted notes keep their link rows) is skipped.
Result<void> propagate_title(const Vault& vault, std::string_view id, const std::string& old_title,
                             const std::string& new_title) {
  auto sources = linking_sources(vault, id, old_title);
  if (!sources) return std::unexpected(std::move(sources.error()));
  for (const std::string& source_id : *sources) {
    auto source = find_note(vault, source_id);
    if (!source) return std::unexpected(std::move(source.error()));
    if (!*source) continue;
    Note& linking = **source;
    // A note its owner made read-only keeps its links as they are.
    if (!check_note_file_writable(linking.path)) continue;
    auto rewritten = rewrite_links(linking.body, old_title, new_title);
    if (rewritten.replaced == 0) continue;
    linking.body = std::move(rewritten.body);
    if (auto saved = save_note(vault, linking, false); !saved) return saved;
  }
  return {};
}

// Removes the file the index last knew for the note when the note now lives
// elsewhere. Called after the new file is written, so a failed write never
// leaves the note without a file; a failed removal is harmless.
// Two spellings may name the file just written (a linked folder, a "."
// component), so identity is compared after the write: before it, a hard
// link would still share the file that the write then replaces. When the
// comparison fails, the file is kept: a second copy beats a lost note.
void remove_previous_file(const std::optional<fs::path>& previous, const fs::path& current) {
  if (!previous || *previous == current || !path_exists(*previous)) return;
  std::error_code ec;
  if (fs::equivalent(*previous, current, ec) || ec) return;
  fs::remove(*previous, ec);
}

// Only a note's file, or a link standing for it, is ever removed: a folder
// that happens to bear a note's name is not the note.
Result<void> check_removable(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  if (fs::is_regular_file(status) || fs::is_symlink(status)) return {};
  const auto why = fs::is_directory(status) ? std::errc::is_a_directory : std::errc::operation_not_permitted;
  return std::unexpected(CoreError::io(std::make_error_code(why).message()));
}

}  // namespace

Result<Note> get_note(const Vault& vault, std::string_view id) {
  auto note = find_note(vault, id);
  if (!note) return std::unexpected(std::move(note.error()));
  if (!*note) return std::unexpected(not_found(id));
  return std::move(**note);
}

Result<void> save_note(const Vault& vault, Note& note, bool propagate) {
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  NoteFrontmatter& fm = note.frontmatter;
  std::optional<std::string> old_title;
  if (propagate) {
    auto indexed = title_by_id(vault, fm.id);
    if (!indexed) return std::unexpected(std::move(indexed.error()));
    old_title = std::move(*indexed);
  }
  const bool retitled = old_title && !same_title(*old_title, fm.title);
  if (retitled) {
    auto rewritten = rewrite_links(note.body, *old_title, fm.title);
    if (rewritten.replaced > 0) note.body = std::move(rewritten.body);
  }
  if (note.path.empty()) {
    auto place = locate_note_file(vault, fm.id);
    if (!place) return std::unexpected(invalid_id(fm.id));
    note.path = *place;
  }
  const std::optional<fs::path> previous = indexed_path(vault, fm.id);
  fm.updated = now_timestamp();
  if (auto written = write_note_file(note); !written) return written;
  remove_previous_file(previous, note.path);
  if (auto indexed = index_note(vault, note); !indexed) return indexed;
  // No link can name an empty title, so a blank old title has nothing to carry.
  if (retitled && !trim(*old_title).empty())
    if (auto carried = propagate_title(vault, fm.id, *old_title, fm.title); !carried) return carried;
  return tx->commit();
}

Result<UpsertNoteResult> upsert_note(const Vault& vault, const UpsertNoteInput& input) {
  const std::string title(trim(input.title));
  if (title.empty()) return std::unexpected(CoreError::message("title is required"));
  const std::string body(trim(input.body));
  if (body.empty()) return std::unexpected(CoreError::message("body is required"));
  std::optional<std::string> workspace;
  if (input.workspace_id && !trim(*input.workspace_id).empty()) workspace = std::string(trim(*input.workspace_id));
  const std::string id = input.id ? std::string(trim(*input.id)) : std::string();

  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  std::optional<Note> existing;
  if (!id.empty()) {
    // Only a missing file leads to a new note: a file that exists but does
    // not read is the user's, and is never replaced by a fresh note.
    auto found = find_note(vault, id);
    if (!found) return std::unexpected(std::move(found.error()));
    existing = std::move(*found);
  }
  const bool created = !existing;
  Note note = created ? new_note(title, body) : std::move(*existing);
  if (created && !id.empty()) note.frontmatter.id = id;
  // A new note goes to its default place: the search above found no file
  // for a given id, and a freshly made id names none. Leaving the path empty
  // would make the save walk the whole notes tree to learn that again.
  if (created)
    if (auto place = default_note_path(vault, note.frontmatter.id)) note.path = *place;
  note.frontmatter.title = title;
  note.body = body;
  note.frontmatter.tags = extract_hashtags(title);
  note.frontmatter.metas = input.metas;
  note.frontmatter.workspace_id = workspace;

  if (auto saved = save_note(vault, note, true); !saved) return std::unexpected(std::move(saved.error()));
  if (auto committed = tx->commit(); !committed) return std::unexpected(std::move(committed.error()));
  return UpsertNoteResult{note.frontmatter.id, note.frontmatter.title, note.frontmatter.updated, created};
}

Result<SetMetasResult> set_metas(const Vault& vault, std::string_view id, const std::map<std::string, std::string>& metas,
                                 bool replace) {
  const std::string_view trimmed = trim(id);
  if (trimmed.empty()) return std::unexpected(CoreError::message("id is required"));
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  auto note = get_note(vault, trimmed);
  if (!note) return std::unexpected(std::move(note.error()));
  if (replace) note->frontmatter.metas = metas;
  else
    for (const auto& [key, value] : metas) note->frontmatter.metas[key] = value;
  if (auto saved = save_note(vault, *note, true); !saved) return std::unexpected(std::move(saved.error()));
  if (auto committed = tx->commit(); !committed) return std::unexpected(std::move(committed.error()));
  return SetMetasResult{note->frontmatter.id, note->frontmatter.updated, note->frontmatter.metas};
}

Result<void> move_note(const Vault& vault, std::string_view id, std::string_view folder) {
  // The system would cut the folder at a NUL byte, and make another one.
  if (folder.find('\0') != std::string_view::npos)
    return std::unexpected(CoreError::message("invalid folder: " + std::string(folder)));
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  auto note = get_note(vault, id);
  if (!note) return std::unexpected(std::move(note.error()));
  auto target = move_target(vault, folder, id);
  if (!target) return std::unexpected(invalid_id(id));
  if (*target == note->path) return {};
  // A move rewrites the note (its `updated` stamp), which a read-only note refuses.
  if (auto writable = check_note_file_writable(note->path); !writable) return writable;
  const fs::path loaded_from = note->path;
  note->path = *target;
  if (auto saved = save_note(vault, *note, true); !saved) return saved;
  // The save removes only the file the index knew; a note written by hand
  // and never indexed would otherwise be left behind as a second copy.
  remove_previous_file(loaded_from, *target);
  return tx->commit();
}

Result<void> delete_note(const Vault& vault, std::string_view id) {
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  if (auto path = locate_note_file(vault, id); path && is_safe_note_id(id) && entry_exists(*path)) {
    if (auto removable = check_removable(*path); !removable) return removable;
    if (auto trashed = move_to_trash(vault.root, *path, id, TrashClock::now()); !trashed) return trashed;
  }
  if (auto marked = mark_note_deleted(vault, id); !marked) return marked;
  return tx->commit();
}

bool note_file_exists(const Vault& vault, std::string_view id) {
  auto path = locate_note_file(vault, id);
  return path && entry_exists(*path);
}

}  // namespace core
