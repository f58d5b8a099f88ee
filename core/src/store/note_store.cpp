#include "store/note_store.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/lookups.hpp"
#include "index/backlinks.hpp"
#include "index/sqlite.hpp"
#include "links/link_rewrite.hpp"
#include "base/files.hpp"
#include "base/ids.hpp"
#include "note/note_file.hpp"
#include "store/note_file_finder.hpp"
#include "store/note_paths.hpp"
#include "store/file_changes.hpp"
#include "store/trash.hpp"
#include "base/text.hpp"
#include "base/title_key.hpp"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

namespace core {
namespace {

namespace fs = std::filesystem;

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

// `<id>.md` found by name under `notes`; a failed search finds nothing.
std::optional<fs::path> file_named_for(const Vault& vault, std::string_view id) {
  auto found = find_note_file(vault.root / "notes", id);
  if (found && *found) return **found;
  return std::nullopt;
}

// Where a new note `id` goes: its file when one is found, else its default
// place; nullopt only for an id that cannot name a file and that the index
// does not place.
std::optional<fs::path> locate_note_file(const Vault& vault, std::string_view id) {
  if (auto indexed = indexed_path(vault, id); indexed && path_exists(*indexed)) return indexed;
  if (auto named = file_named_for(vault, id)) return named;
  return default_note_path(vault, id);
}

// A note file found for an id, and whether it is that note: a file is note
// X when its frontmatter id is X. A file without frontmatter names no id of
// its own; found for X (by its name, or where the index places X), it is
// note X, and reads with that id rather than a made-up one.
struct FoundNote {
  Note note;
  bool holds_id = false;
};

Result<FoundNote> read_found(const fs::path& path, std::string_view id) {
  auto read = read_note_file_checked(path);
  if (!read) return std::unexpected(std::move(read.error()));
  FoundNote found{std::move(read->note), true};
  if (!read->has_frontmatter) found.note.frontmatter.id = std::string(id);
  else found.holds_id = found.note.frontmatter.id == id;
  return found;
}

// The note `id`: the file the index places it in, then `<id>.md` by name.
// A file that holds `id` wins; otherwise the first file found is given with
// holds_id false (a copy, or a hand rename). nullopt when no file exists.
// A file that exists and does not read ends the search with its error.
Result<std::optional<FoundNote>> find_note(const Vault& vault, std::string_view id) {
  std::optional<FoundNote> other;
  const std::optional<fs::path> indexed = indexed_path(vault, id);
  if (indexed && path_exists(*indexed)) {
    auto found = read_found(*indexed, id);
    if (!found) return std::unexpected(std::move(found.error()));
    if (found->holds_id) return std::move(*found);
    other = std::move(*found);
  }
  if (auto named = file_named_for(vault, id); named && named != indexed && path_exists(*named)) {
    auto found = read_found(*named, id);
    if (!found) return std::unexpected(std::move(found.error()));
    if (found->holds_id || !other) return std::move(*found);
  }
  return other;
}

CoreError not_found(std::string_view id) { return CoreError::not_found("note not found: " + std::string(id)); }
CoreError invalid_id(std::string_view id) { return CoreError::invalid("invalid note id: " + std::string(id)); }

// A write never changes a file that holds another note.
CoreError held_by_another(const Vault& vault, const FoundNote& found, std::string_view id) {
  std::string text = "the file " + stored_path(vault.root, found.note.path) + " holds note " +
                     found.note.frontmatter.id + ", not note " + std::string(id);
  if (kWindowsNames && unicode_lower(found.note.frontmatter.id) == unicode_lower(id))
    text += " (Windows file names ignore letter case)";
  return CoreError::conflict(std::move(text));
}

// A new note's id must name a file of its own on this platform.
Result<void> check_new_id(std::string_view id) {
  if (!is_safe_note_id(id)) return {};  // refused as unsafe where the path is made
  if constexpr (kWindowsNames)
    if (auto problem = windows_name_problem(id))
      return std::unexpected(CoreError::invalid("invalid note id: " + std::string(id) + " (" + *problem + ")"));
  return {};
}

// The note `id` to change: its file must hold it.
Result<Note> load_for_change(const Vault& vault, std::string_view id) {
  auto found = find_note(vault, id);
  if (!found) return std::unexpected(std::move(found.error()));
  if (!*found) return std::unexpected(not_found(id));
  if (!(*found)->holds_id) return std::unexpected(held_by_another(vault, **found, id));
  return std::move((*found)->note);
}

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

// Every change holds the index's write lock from before it reads the note it
// changes until its files and index rows are written, and commits once: two
// writers (two servers on one vault) then never interleave their
// read-modify-write, and a lock that cannot be had (after SQLite's busy
// wait) fails the change before any file is touched. An index this process
// may not write fails the change here too, before a folder is made.
Result<Transaction> begin_change(Vault& vault) {
  auto tx = Transaction::begin_immediate(vault.db());
  if (!tx) return tx;
  if (is_read_only(vault.db())) return std::unexpected(CoreError::database("attempt to write a readonly database"));
  return tx;
}

Result<void> stage_save(Vault& vault, Note& note, bool propagate, FileChanges& files);

// Carries a retitle into the notes whose links name the old title. A note
// that has no file any more (deleted notes keep their link rows), or whose
// file now holds another note, is not this note's to rewrite.
Result<void> propagate_title(Vault& vault, std::string_view id, const std::string& old_title,
                             const std::string& new_title, FileChanges& files) {
  auto sources = linking_sources(vault, id, old_title);
  if (!sources) return std::unexpected(std::move(sources.error()));
  for (const std::string& source_id : *sources) {
    if (source_id == id) continue;  // the note's own links were rewritten with it
    auto source = find_note(vault, source_id);
    if (!source) return std::unexpected(std::move(source.error()));
    if (!*source || !(*source)->holds_id) continue;
    Note& linking = (*source)->note;
    // A note its owner made read-only keeps its links as they are.
    if (!check_note_file_writable(linking.path)) continue;
    auto rewritten = rewrite_links(linking.body, old_title, new_title);
    if (rewritten.replaced == 0) continue;
    linking.body = std::move(rewritten.body);
    if (auto saved = stage_save(vault, linking, false, files); !saved) return saved;
  }
  return {};
}

// A save's file and index writes, prepared but not yet final (see
// file_changes.hpp): the note's new file beside its target, its index rows,
// and with `propagate` the same for every note whose links a retitle
// rewrites.
Result<void> stage_save(Vault& vault, Note& note, bool propagate, FileChanges& files) {
  NoteFrontmatter& fm = note.frontmatter;
  std::optional<std::string> old_title;
  if (propagate) {
    auto indexed = title_by_id(vault, fm.id);
    if (!indexed) return std::unexpected(std::move(indexed.error()));
    old_title = std::move(*indexed);
  }
  // Which links name the old title is the index's rule (title_key.hpp): a
  // title no link can name, such as one a hand-written file ends with a
  // tab, has none to rewrite, though a link's trimmed text may look alike.
  const bool retitled = old_title && !same_title(*old_title, fm.title) && is_linkable_title(*old_title);
  if (retitled) {
    auto rewritten = rewrite_links(note.body, *old_title, fm.title);
    if (rewritten.replaced > 0) note.body = std::move(rewritten.body);
  }
  if (note.path.empty()) {
    auto place = locate_note_file(vault, fm.id);
    if (!place) return std::unexpected(invalid_id(fm.id));
    note.path = *place;
  }
  fm.updated = now_timestamp();
  if (auto written = files.write(note); !written) return written;
  if (auto indexed = index_note(vault, note); !indexed) return indexed;
  if (retitled)
    if (auto carried = propagate_title(vault, fm.id, *old_title, fm.title, files); !carried) return carried;
  return {};
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

// The file a delete of `id` moves into the trash: the one that holds the
// note, else the entry the note would be read from (a copy holding another
// id, a file that does not read, a dangling link), so that a delete that
// reports success never leaves a file the id still finds.
std::optional<fs::path> file_to_delete(const Vault& vault, std::string_view id) {
  auto holds = [&](const fs::path& path) {
    auto found = read_found(path, id);
    return found && found->holds_id;
  };
  const std::optional<fs::path> indexed = indexed_path(vault, id);
  const bool indexed_there = indexed && entry_exists(*indexed);
  if (indexed_there && holds(*indexed)) return indexed;
  const std::optional<fs::path> named = file_named_for(vault, id);
  if (named && named != indexed && holds(*named)) return named;
  if (indexed_there) return indexed;
  return named;
}

}  // namespace

Result<Note> get_note(const Vault& vault, std::string_view id) {
  auto found = find_note(vault, id);
  if (!found) return std::unexpected(std::move(found.error()));
  if (!*found) return std::unexpected(not_found(id));
  return std::move((*found)->note);
}

Result<void> save_note(Vault& vault, Note& note, bool propagate) {
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  FileChanges files;
  if (auto staged = stage_save(vault, note, propagate, files); !staged) return staged;
  return commit_change(*tx, files);
}

Result<UpsertNoteResult> upsert_note(Vault& vault, const UpsertNoteInput& input) {
  const std::string title(trim(input.title));
  if (title.empty()) return std::unexpected(CoreError::invalid("title is required"));
  const std::string body(trim(input.body));
  if (body.empty()) return std::unexpected(CoreError::invalid("body is required"));
  std::optional<std::string> workspace;
  if (input.workspace_id && !trim(*input.workspace_id).empty()) workspace = std::string(trim(*input.workspace_id));
  const std::string id = input.id ? std::string(trim(*input.id)) : std::string();

  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  std::optional<Note> existing;
  if (!id.empty()) {
    // Only a missing file leads to a new note: a file that exists but does
    // not read is the user's, and is never replaced by a fresh note; nor is
    // a file that holds another note.
    auto found = find_note(vault, id);
    if (!found) return std::unexpected(std::move(found.error()));
    if (*found && !(*found)->holds_id) return std::unexpected(held_by_another(vault, **found, id));
    if (*found) existing = std::move((*found)->note);
  }
  const bool created = !existing;
  if (created && !id.empty())
    if (auto allowed = check_new_id(id); !allowed) return std::unexpected(std::move(allowed.error()));
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

  FileChanges files;
  if (auto staged = stage_save(vault, note, true, files); !staged) return std::unexpected(std::move(staged.error()));
  if (auto committed = commit_change(*tx, files); !committed) return std::unexpected(std::move(committed.error()));
  return UpsertNoteResult{note.frontmatter.id, note.frontmatter.title, note.frontmatter.updated, created};
}

Result<SetMetasResult> set_metas(Vault& vault, std::string_view id, const std::map<std::string, std::string>& metas,
                                 bool replace) {
  const std::string_view trimmed = trim(id);
  if (trimmed.empty()) return std::unexpected(CoreError::invalid("id is required"));
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  auto note = load_for_change(vault, trimmed);
  if (!note) return std::unexpected(std::move(note.error()));
  if (replace) note->frontmatter.metas = metas;
  else
    for (const auto& [key, value] : metas) note->frontmatter.metas[key] = value;
  FileChanges files;
  if (auto staged = stage_save(vault, *note, true, files); !staged) return std::unexpected(std::move(staged.error()));
  if (auto committed = commit_change(*tx, files); !committed) return std::unexpected(std::move(committed.error()));
  return SetMetasResult{note->frontmatter.id, note->frontmatter.updated, note->frontmatter.metas};
}

Result<void> move_note(Vault& vault, std::string_view id, std::string_view folder) {
  // The system would cut the folder at a NUL byte, and make another one.
  if (folder.find('\0') != std::string_view::npos)
    return std::unexpected(CoreError::invalid("invalid folder: " + std::string(folder)));
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  auto note = load_for_change(vault, id);
  if (!note) return std::unexpected(std::move(note.error()));
  if constexpr (kWindowsNames) {
    const std::string normal = normalize_folder(folder);
    for (std::size_t start = 0; start < normal.size();) {
      const std::size_t end = std::min(normal.find('/', start), normal.size());
      if (auto problem = windows_name_problem(std::string_view(normal).substr(start, end - start)))
        return std::unexpected(CoreError::invalid("invalid folder: " + std::string(folder) + " (" + *problem + ")"));
      start = end + 1;
    }
  }
  auto target = move_target(vault, folder, id);
  if (!target) return std::unexpected(invalid_id(id));
  if (*target == note->path) return {};
  // A move rewrites the note (its `updated` stamp), which a read-only note refuses.
  if (auto writable = check_note_file_writable(note->path); !writable) return writable;
  // A move never writes over another file; the note's own file reached
  // through another spelling (a linked folder) is no other file.
  std::error_code ec;
  if (entry_exists(*target) && !fs::equivalent(*target, note->path, ec))
    return std::unexpected(CoreError::message("a file exists at " + stored_path(vault.root, *target)));
  const fs::path loaded_from = note->path;
  note->path = *target;
  FileChanges files;
  if (auto staged = stage_save(vault, *note, true, files); !staged) return staged;
  files.remove_when_final(loaded_from, *target);
  return commit_change(*tx, files);
}

// A file found for `id` that holds another note is a copy, and goes with
// the delete, unless the index places that other note in it: then it is
// that note's own file, and not this delete's to take.
Result<void> check_not_anothers_file(const Vault& vault, const fs::path& file, std::string_view id) {
  auto found = read_found(file, id);
  if (!found || found->holds_id) return {};
  const std::optional<fs::path> others = indexed_path(vault, found->note.frontmatter.id);
  std::error_code ec;
  if (others && (*others == file || fs::equivalent(*others, file, ec)))
    return std::unexpected(held_by_another(vault, *found, id));
  return {};
}

Result<void> delete_note(Vault& vault, std::string_view id) {
  auto tx = begin_change(vault);
  if (!tx) return std::unexpected(std::move(tx.error()));
  const std::optional<fs::path> file = file_to_delete(vault, id);
  if (file) {
    if (auto removable = check_removable(*file); !removable) return removable;
    if (auto own = check_not_anothers_file(vault, *file, id); !own) return own;
  }
  if (auto marked = write_note_deleted(vault, id); !marked) return marked;
  FileChanges files;
  if (file) {
    auto trashed = move_to_trash(vault.root, *file, id, TrashClock::now());
    if (!trashed) return std::unexpected(std::move(trashed.error()));
    files.made([moved = std::move(*trashed)]() mutable { return moved.undo(); });
  }
  return commit_change(*tx, files);
}

Result<bool> note_in_use(const Vault& vault, std::string_view id) {
  auto stored = path_by_id(vault, id);
  if (!stored) return std::unexpected(std::move(stored.error()));
  return stored->has_value() || file_named_for(vault, id).has_value();
}

}  // namespace core
