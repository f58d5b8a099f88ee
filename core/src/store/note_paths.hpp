#pragma once
// Where note files live inside a vault, and the folder texts that name
// places under `notes`.
//
// A note created by the system is `notes/<id>.md`; only a move puts a note in
// a subfolder. Identifiers are file-name stems, so an identifier that could
// escape its folder never becomes part of a path: such ids are "unsafe".

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace core {

struct Vault;

// Whether `id` may be used as a file-name stem: not empty, not "." or "..",
// and without "/", "\" or NUL.
bool is_safe_note_id(std::string_view id);

// A folder text in normal form: "\" becomes "/", empty, "." and ".." pieces
// are dropped, the rest joined with "/". "/projects//2024/" -> "projects/2024".
std::string normalize_folder(std::string_view folder);

// The folder of a stored relative path: the directory part after a leading
// "notes/" (or "./notes/"), normalised. "notes/a/b/x.md" -> "a/b".
std::string folder_of(std::string_view stored_path);

// `<root>/notes/<id>.md`; nullopt for an unsafe id.
std::optional<std::filesystem::path> default_note_path(const Vault& vault, std::string_view id);

// `<root>/notes/<normalised folder>/<id>.md`, never outside `notes`;
// nullopt for an unsafe id.
std::optional<std::filesystem::path> move_target(const Vault& vault, std::string_view folder, std::string_view id);

// A path the index holds for a note, in plain form: "/" or "\" separate,
// empty and "." pieces are dropped, and ".." folds with the piece before it.
// "./notes/a/n.md", "notes/./a/n.md" and "notes\b\..\a\n.md" all give
// "notes/a/n.md". nullopt when the result does not lie below `notes` (an
// absolute path, one climbing out with "..", "notes" itself) or the text
// holds a NUL, which the system would cut it at.
std::optional<std::string> normalize_stored_path(std::string_view stored_path);

// The root joined with normalize_stored_path(stored_path), or nullopt when
// that is nullopt. Nothing outside `notes` is ever followed.
std::optional<std::filesystem::path> safe_stored_path(const Vault& vault, std::string_view stored_path);

}  // namespace core
