#include "note/note_file.hpp"

#include "note/frontmatter.hpp"
#include "base/files.hpp"
#include "base/ids.hpp"
#include "base/text.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace core {
namespace {

constexpr std::string_view kDelimiter = "---";

constexpr std::size_t kTempNameKept = 200;  // bytes of the target's name in a temporary's name
constexpr std::size_t kTempTag = 10;        // characters of [0-9a-z] after it

}  // namespace

// The characters are drawn from the name and the slot number, not at
// random, so that a save finds what an earlier save of the same note,
// killed half-way, left behind by trying a few names rather than listing a
// folder that may hold 100,000 notes (a listing costs over 100 ms there).
// Saves through the note store hold the index's write lock, so two slots
// are in use at most.
std::filesystem::path note_temp_path(const std::filesystem::path& target, int slot) {
  const std::string name = path_utf8(target.filename()).substr(0, kTempNameKept);
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the name, a NUL and the slot
  for (const char c : name + '\0' + std::to_string(slot)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string tag(kTempTag, '0');
  for (std::size_t i = kTempTag; i-- > 0; hash /= 36) tag[i] = kDigits[hash % 36];
  return temp_path_beside(target, tag);
}

namespace {

// Removes the temporaries of `target` that a save killed half-way left
// beside it (a 200 MB note leaves 200 MB), and a replaced file kept by a
// save that died before its index committed (the note's file is then the
// newer one; the next save of it brings the index along). Under the note
// store's write lock none of them is another save's live file; a save made
// outside the store at the same moment would fail cleanly, its temporary
// gone before its rename. Only regular files are removed, and failures are
// left for a later save.
void remove_leftover_temps(const std::filesystem::path& target) {
  for (int slot = 0; slot < kNoteTempSlots; ++slot) {
    const std::filesystem::path path = note_temp_path(target, slot);
    const auto status = file_status(path, false);
    if (status && status->kind == EntryKind::Regular) (void)remove_file(path);
  }
}
// Renaming over a symbolic link would replace the link with a plain file
// and leave the file it points to stale, so the link's target is written.
std::filesystem::path write_target(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  return ec ? path : resolved;  // a dangling link is replaced, as a missing file would be created
}

// A person who took every write bit off a note meant it to stay as it is.
// Root may write any file, so access() alone would let a server run as root
// replace it; the mode bits are read first for that reason. access() then
// covers the files of other users that this process may not write. Renaming
// a temporary over the file would bypass both, as only the folder's
// permissions govern a rename.
Result<void> check_may_replace(const std::filesystem::path& target) {
  // A missing file is created; other failures show at the write.
  if (write_protected(target)) return std::unexpected(io_error(EACCES));
  return {};
}

// The file `target` stands for, when it names a folder: such an entry is
// never replaced by a note.
Result<void> check_not_folder(const std::filesystem::path& target) {
  const auto status = file_status(target, false);
  if (status && status->kind == EntryKind::Folder) return std::unexpected(io_error(EISDIR));
  return {};
}

std::size_t count_line_feeds(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

NoteFrontmatter default_frontmatter() {
  NoteFrontmatter frontmatter;
  frontmatter.id = new_note_id();
  frontmatter.title = "Untitled";
  frontmatter.created_at = now_timestamp();
  frontmatter.updated = now_timestamp();
  return frontmatter;
}

Result<Note> parse_note_file(std::string_view text, std::filesystem::path path) {
  Note note;
  note.path = std::move(path);
  const std::string_view start = trim_start(text);
  if (!start.starts_with(kDelimiter)) {
    note.frontmatter = default_frontmatter();
    note.body = text;
  } else {
    const std::string_view rest = start.substr(kDelimiter.size());
    const std::size_t close = rest.find("\n---");
    if (close == std::string_view::npos) return std::unexpected(CoreError::message("unclosed frontmatter"));
    // The line feed before the closing "---" ends the last YAML line; without
    // it a block text at the end of the frontmatter would lose its own.
    const std::string_view yaml = rest.substr(0, close + 1);
    std::string_view body = rest.substr(close + 1 + kDelimiter.size());
    if (body.starts_with('\n')) body.remove_prefix(1);
    note.body = body;
    if (trim(yaml).empty()) {
      note.frontmatter = default_frontmatter();
    } else {
      const std::size_t first_line = 1 + count_line_feeds(text.substr(0, text.size() - start.size()));
      auto frontmatter = read_frontmatter(yaml, first_line);
      if (!frontmatter) return std::unexpected(std::move(frontmatter.error()));
      note.frontmatter = std::move(*frontmatter);
    }
  }
  if (note.frontmatter.tags.empty()) note.frontmatter.tags = extract_hashtags(note.frontmatter.title);
  return note;
}

Result<std::string> render_note_file(const Note& note) {
  Result<std::string> yaml;
  if (note.frontmatter.tags.empty()) {
    NoteFrontmatter with_tags = note.frontmatter;
    with_tags.tags = extract_hashtags(with_tags.title);
    yaml = write_frontmatter(with_tags);
  } else {
    yaml = write_frontmatter(note.frontmatter);
  }
  if (!yaml) return yaml;
  std::string text;
  text.reserve(2 * (kDelimiter.size() + 1) + yaml->size() + note.body.size());
  text.append(kDelimiter).append("\n").append(*yaml).append(kDelimiter).append("\n").append(note.body);
  return text;
}

// Whether parse_note_file would take the frontmatter from `text` rather than
// make one up: a "---" block that is closed and not blank.
bool has_frontmatter_block(std::string_view text) {
  const std::string_view start = trim_start(text);
  if (!start.starts_with(kDelimiter)) return false;
  const std::string_view rest = start.substr(kDelimiter.size());
  const std::size_t close = rest.find("\n---");
  return close != std::string_view::npos && !trim(rest.substr(0, close + 1)).empty();
}

Result<NoteFileRead> read_note_file_checked(const std::filesystem::path& path) {
  auto text = read_regular_file(path, kNoteFileMaxBytes);
  if (!text) return std::unexpected(std::move(text.error()));
  if (!is_valid_utf8(*text)) return std::unexpected(CoreError::io("data is not valid UTF-8"));
  auto note = parse_note_file(*text, path);
  if (!note) return std::unexpected(std::move(note.error()));
  return NoteFileRead{std::move(*note), has_frontmatter_block(*text)};
}

Result<Note> read_note_file(const std::filesystem::path& path) {
  auto read = read_note_file_checked(path);
  if (!read) return std::unexpected(std::move(read.error()));
  return std::move(read->note);
}

Result<void> check_note_file_writable(const std::filesystem::path& path) {
  return check_may_replace(write_target(path));
}

Result<NoteFileWrite> NoteFileWrite::prepare(const Note& note) {
  if (note.path.empty()) return std::unexpected(CoreError::message("note path not set"));
  auto text = render_note_file(note);
  if (!text) return std::unexpected(std::move(text.error()));
  NoteFileWrite write;
  write.target_ = write_target(note.path);
  for (auto dir = write.target_.parent_path(); !dir.empty() && dir != dir.parent_path() && !entry_exists(dir);
       dir = dir.parent_path())
    write.made_folders_.push_back(dir);
  std::error_code ec;
  if (write.target_.has_parent_path()) std::filesystem::create_directories(write.target_.parent_path(), ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  if (auto ok = check_not_folder(write.target_); !ok) return std::unexpected(std::move(ok.error()));
  if (auto ok = check_may_replace(write.target_); !ok) return std::unexpected(std::move(ok.error()));
  write.replaces_ = entry_exists(write.target_);
  remove_leftover_temps(write.target_);
  if (auto ok = write.write_temp(*text); !ok) return std::unexpected(std::move(ok.error()));
  return write;
}

// The text goes to the first free temporary name; a slot taken by a writer
// outside the note store's lock makes the next one be tried.
Result<void> NoteFileWrite::write_temp(std::string_view text) {
  UniqueFd fd;
  for (int slot = 0; !fd; ++slot) {
    std::filesystem::path candidate = note_temp_path(target_, slot);
    // 0666 lets the umask decide, as for any newly created file.
    auto created = create_exclusive(candidate, 0666);
    if (created) {
      fd = std::move(*created);
      temp_ = std::move(candidate);
    } else if (created.error() != EEXIST || slot + 1 == kNoteTempSlots) {
      return std::unexpected(io_error(created.error()));
    }
  }
  if (auto ok = write_all(fd.get(), text); !ok) return ok;
  // The new file gets the permissions of the one it replaces. A new note
  // has none to keep; a failed chmod leaves the default mode, which still
  // lets the owner read and write the note.
  if (replaces_)
    if (const auto existing = file_status(target_, true)) set_mode(fd.get(), existing->mode);
  // Flushed before the rename, so that a crash cannot leave the renamed
  // file without its contents.
  if (auto ok = flush_file(fd.get()); !ok) return ok;
  if (const auto written = file_status(fd.get())) written_inode_ = written->inode;
  return fd.close();
}

// The file being replaced stays reachable under a temporary name until
// finish() or undo(): a second name for the same file where the file system
// allows one, else a copy.
Result<void> NoteFileWrite::keep_replaced() {
  for (int slot = 0; slot < kNoteTempSlots; ++slot) {
    std::filesystem::path candidate = note_temp_path(target_, slot);
    if (candidate == temp_) continue;
    const int linked = link_file(target_, candidate);
    if (linked == 0) {
      backup_ = std::move(candidate);
      return {};
    }
    if (linked == EEXIST) continue;
    // No second name here (a file system without hard links): a copy.
    if (entry_exists(candidate)) continue;
    auto copied = copy_file_synced(target_, candidate);
    if (copied) backup_ = std::move(candidate);
    return copied;
  }
  return std::unexpected(io_error(EEXIST));
}

Result<void> NoteFileWrite::install() {
  if (replaces_) {
    if (auto kept = keep_replaced(); !kept) return kept;
    if (auto renamed = rename_replacing(temp_, target_); !renamed) return renamed;
  } else if (const int error = rename_no_replace(temp_, target_); error != 0) {
    return std::unexpected(io_error(error));
  }
  temp_.clear();
  installed_ = true;
  return flush_folder(target_.parent_path());
}

Result<void> NoteFileWrite::undo() {
  if (!installed_) return {};
  installed_ = false;
  if (!backup_.empty()) {
    auto renamed = rename_replacing(backup_, target_);
    // Put back or not, the replaced file is not removed: left under its
    // temporary name, it goes with the next save of this note.
    backup_.clear();
    return renamed;
  }
  // Only the file this write made is taken away, not one put there since.
  if (const auto now = file_status(target_, false); now && now->inode == written_inode_)
    if (auto removed = remove_file(target_); !removed) return removed;
  remove_made_folders();
  return {};
}

// Folders this write created go with a write that did not happen, deepest
// first; one that holds anything by now stays, and so do those above it.
void NoteFileWrite::remove_made_folders() {
  std::error_code ec;
  for (const std::filesystem::path& dir : made_folders_)
    if (!std::filesystem::remove(dir, ec)) break;
  made_folders_.clear();
}

void NoteFileWrite::finish() {
  made_folders_.clear();
  installed_ = false;
  if (!backup_.empty()) (void)remove_file(backup_);  // a leftover goes with the next save of this note
  backup_.clear();
}

NoteFileWrite::~NoteFileWrite() {
  if (installed_) (void)undo();  // a write never confirmed is taken back; there is no one to tell of a failure
  if (!temp_.empty()) (void)remove_file(temp_);
  if (!backup_.empty()) (void)remove_file(backup_);
  remove_made_folders();
}

NoteFileWrite::NoteFileWrite(NoteFileWrite&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::exchange(other.temp_, {})),
      backup_(std::exchange(other.backup_, {})),
      made_folders_(std::exchange(other.made_folders_, {})),
      written_inode_(other.written_inode_),
      replaces_(other.replaces_),
      installed_(std::exchange(other.installed_, false)) {}

Result<void> write_note_file(const Note& note) {
  auto write = NoteFileWrite::prepare(note);
  if (!write) return std::unexpected(std::move(write.error()));
  if (auto installed = write->install(); !installed) return installed;
  write->finish();
  return {};
}

}  // namespace core
