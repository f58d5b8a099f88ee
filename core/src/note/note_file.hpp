#pragma once
// Note files: UTF-8 Markdown that opens with a YAML frontmatter block
// between two "---" lines. This is a format shared with the desktop
// application, so what is written reads back to the same values.

#include "base/error.hpp"
#include "note/hashtags.hpp"
#include "note/note.hpp"

#include <filesystem>
#include <string>
#include <string_view>

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

// Reads and parses the file at `path`. Fails with Io when the file cannot be
// read ("data is not valid UTF-8" for such content), else as parse_note_file.
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

// Writes render_note_file(note) to `note.path`, creating missing parent
// folders. The text goes to a temporary file in the same folder, which is
// then renamed over the target, so the note file is either the old one or
// the new one, never a partial one; a target's permissions are kept, and a
// symbolic link is written through, not replaced. A target that
// check_note_file_writable refuses is not replaced. Temporaries are named
// ".<name>.<10 characters of [0-9a-z]>.tmp", the characters fixed per
// target among a few; before writing, the ones an earlier save of the same
// target left behind (killed half-way) are removed, and no other file.
// Fails with Message "note path not set" (touching nothing), Yaml as
// render_note_file does (touching nothing), or Io; after a failure the
// previous file is unchanged and no temporary file is left.
[[nodiscard]] Result<void> write_note_file(const Note& note);

}  // namespace core
