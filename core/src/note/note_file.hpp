#pragma once
// Note files: UTF-8 Markdown that opens with a YAML frontmatter block
// between two "---" lines. This is a format shared with the desktop
// application, so what is written reads back to the same values.

#include "base/error.hpp"
#include "note/hashtags.hpp"
#include "note/note.hpp"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The frontmatter of a file that has none: a new id, title "Untitled", no
// tags, metas, workspace or extra keys, and `created_at` then `updated` from
// two separate clock readings.
NoteFrontmatter default_frontmatter();

// Splits `text` into frontmatter and body. After leading Unicode white space
// (a byte-order mark is not white space) the text must start with "---" to
// have a frontmatter; otherwise the note gets default_frontmatter() and the
// whole of `text` as its body. The frontmatter runs up to the first line
// feed followed by "---"; the body is everything after those four
// characters less one line feed, so a "----" closing line leaves "-" and a
// CR LF leaves "\r\n" at the start of the body. A blank frontmatter gives
// default_frontmatter(). An empty tag list is filled from the title's
// hashtags. `path` is stored as given.
// Fails with Message "unclosed frontmatter", or Yaml as read_frontmatter
// does (positions count lines of `text`).
[[nodiscard]] Result<Note> parse_note_file(std::string_view text, std::filesystem::path path);

// The complete file text: "---\n", the frontmatter YAML (with the title's
// hashtags as tags when the tag list is empty; `note` is not changed),
// "---\n", then the body exactly as held.
// Fails (Yaml) only when the YAML emitter refuses a value, for example a
// text that is not valid UTF-8; it never returns a text that drops fields.
[[nodiscard]] Result<std::string> render_note_file(const Note& note);

// Reads and parses the file at `path`. Only a regular file of at most
// kNoteFileMaxBytes is read (see read_regular_file). Fails with Io when the
// file cannot be read ("data is not valid UTF-8" for such content,
// "not a regular file (a named pipe)", ...), else as parse_note_file.
[[nodiscard]] Result<Note> read_note_file(const std::filesystem::path& path);

// Fails with Io "Permission denied" when the file at `path` (through a
// symbolic link, its target) exists and may not be replaced: no one has a
// write bit on it, or access() denies this process writing it. The mode
// bits are read because root passes access() for any file. A missing file
// passes.
[[nodiscard]] Result<void> check_note_file_writable(const std::filesystem::path& path);

// What a reader of many files needs to know besides the note.
struct NoteFileRead {
  Note note;
  // False when the file has no frontmatter or a blank one, so that its id
  // was made up by the reading and names nothing stored.
  bool has_frontmatter = false;
};

// read_note_file, telling also whether the file had a frontmatter.
[[nodiscard]] Result<NoteFileRead> read_note_file_checked(const std::filesystem::path& path);

// A note file may hold up to 64 MiB, far above any note a person writes
// (the frontmatter alone may expand to 16 MiB, see yaml_read.hpp); a larger
// file is refused by every reader, so a link to a device or a runaway file
// cannot exhaust memory.
inline constexpr std::size_t kNoteFileMaxBytes = std::size_t{64} << 20;

// A save's temporary names beside `target`, in the order a save tries
// them: "." + its file name (cut to 200 bytes) + "." + 10 characters of
// [0-9a-z] fixed by the name and the slot + ".tmp". A save uses two at most
// (its new text, and the replaced file kept until the index commits) and
// removes leftovers of a save killed half-way under these names only.
inline constexpr int kNoteTempSlots = 4;
std::filesystem::path note_temp_path(const std::filesystem::path& target, int slot);

// A note's new file text, written and flushed to disk beside its target but
// not yet in its place, so that a change to a vault can put all its files
// in place only once the index change that goes with them is ready, and
// take them all back if that change cannot commit.
//
// The text goes to a temporary file in the target's folder, which install()
// renames over the target: the note file is either the old one or the new
// one, never a partial one. A target's permissions are kept, and a symbolic
// link is written through, not replaced. A target that
// check_note_file_writable refuses, or a folder, is never replaced.
// Temporaries are named ".<name>.<10 characters of [0-9a-z]>.tmp", the
// characters fixed per target among a few; before writing, the ones an
// earlier save of the same target left behind (killed half-way) are
// removed, and no other file.
class NoteFileWrite {
 public:
  // Renders `note` and writes it to a temporary beside `note.path`,
  // creating missing parent folders (removed again, while still empty,
  // when the write is taken back or never installed). Fails with Message
  // "note path not set" (touching nothing), Yaml as render_note_file does
  // (touching nothing), or Io; no temporary is then left.
  [[nodiscard]] static Result<NoteFileWrite> prepare(const Note& note);

  // Puts the text in place: renamed over the file it replaces, which stays
  // reachable (for undo) until finish(); or, for a target that did not
  // exist when prepared, renamed to a name that must still be free. The
  // folder is flushed after the rename. Fails with Io; the target is then
  // as it was.
  [[nodiscard]] Result<void> install();
  // After install(): puts back the file that was replaced, or removes the
  // new one when there was none. Fails with Io when that rename fails.
  [[nodiscard]] Result<void> undo();
  // After install(): the change is final; the replaced file goes.
  void finish();

  // The file that install() writes (a symbolic link resolved).
  const std::filesystem::path& target() const { return target_; }

  NoteFileWrite(NoteFileWrite&& other) noexcept;
  NoteFileWrite& operator=(NoteFileWrite&&) = delete;
  NoteFileWrite(const NoteFileWrite&) = delete;
  NoteFileWrite& operator=(const NoteFileWrite&) = delete;
  // Removes a temporary never installed, and undoes an install never
  // finished.
  ~NoteFileWrite();

 private:
  NoteFileWrite() = default;
  [[nodiscard]] Result<void> write_temp(std::string_view text);
  [[nodiscard]] Result<void> keep_replaced();
  void remove_made_folders();

  std::filesystem::path target_;
  std::filesystem::path temp_;    // the new text until installed
  std::filesystem::path backup_;  // the replaced file, after install
  std::vector<std::filesystem::path> made_folders_;  // created by prepare, deepest first; cleared by finish
  unsigned long long written_inode_ = 0;
  bool replaces_ = false;         // the target existed when prepared
  bool installed_ = false;
};

// Writes render_note_file(note) to `note.path` at once: NoteFileWrite's
// prepare, install and finish. Fails as those do; after a failure the
// previous file is unchanged and no temporary file is left.
[[nodiscard]] Result<void> write_note_file(const Note& note);

}  // namespace core
