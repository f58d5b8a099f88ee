#pragma once
// The stored path: how the index spells where a note's file is, in
// note_files.path. Written by the indexer, read by the note store (to find
// a note's file), by listings (to place a note in a folder) and by the SQL
// that finds a folder's rows; this header is the one statement of it.
//
// Written: the file's path relative to the vault root, "/"-separated,
// UTF-8, so a note of the system reads "notes/<folders>/<file>", for
// example "notes/work/a.md" ("notes/a.md" directly in `notes`).
//
// Read: other programs share the index and may spell a path otherwise.
// "/" and "\" both separate; empty and "." pieces are nothing; "..", to
// find a file, folds with the piece before it, and a path that leaves
// `notes` (or holds a NUL) names no note file. A folder is read from the
// pieces after a leading "notes/" or "./notes/". So "./notes/a/n.md",
// "notes\a\n.md" and "notes//a/n.md" are all note n.md in folder "a".
//
// Plain: a path that begins with "notes/" and holds no "\", no empty piece
// and no "." or ".." piece. A plain path's folder is its text between
// "notes/" and its last "/". kOddStoredPath finds the others in SQL.
//
// A folder's range: the plain paths in folder F or below it are exactly the
// texts from folder_prefix(F) ("notes/F/") up to but not including
// range_end of it ("notes/F0"): '0' is the byte after '/', so no other
// text sorts between.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// The paths that are not plain, as a term of SQL on `note_files`. Written
// exactly so in the partial index that finds these rows and in the
// statements that use it (SQLite matches the two texts).
inline constexpr std::string_view kOddStoredPath =
    "(substr(path, 1, 6) <> 'notes/' OR instr(path, '\\') > 0 OR instr(path, '//') > 0 "
    "OR instr(path, '/./') > 0 OR instr(path, '/../') > 0)";

// The path stored for a note file: `path` relative to `root` when the root
// is a component-wise prefix of it (else the whole path), as UTF-8 text
// (invalid bytes become U+FFFD) with every "\" turned into "/".
// Example: <root>/notes/work/a.md gives "notes/work/a.md".
std::string stored_path(const std::filesystem::path& root, const std::filesystem::path& path);

// A folder text in normal form: "\" becomes "/", empty, "." and ".." pieces
// are dropped, the rest joined with "/". "/projects//2024/" -> "projects/2024".
std::string normalize_folder(std::string_view folder);

// The folder of a stored path: the directory part after a leading "notes/"
// (or "./notes/"), normalised. "notes/a/b/x.md" -> "a/b".
std::string folder_of(std::string_view stored_path);

// A stored path in plain form: "/" or "\" separate, empty and "." pieces
// are dropped, and ".." folds with the piece before it. "./notes/a/n.md",
// "notes/./a/n.md" and "notes\b\..\a\n.md" all give "notes/a/n.md".
// nullopt when the result does not lie below `notes` (an absolute path, one
// climbing out with "..", "notes" itself) or the text holds a NUL, which
// the system would cut it at.
std::optional<std::string> normalize_stored_path(std::string_view stored_path);

// Where the plain paths of the normalised `folder` begin: "notes/" for ""
// (`notes` itself), else "notes/<folder>/".
std::string folder_prefix(std::string_view folder);

// The first text past every text that begins with `prefix`, which ends in
// "/": the prefix with that "/" replaced by '0'. "notes/a/" -> "notes/a0".
std::string range_end(std::string_view prefix);

}  // namespace core
