#pragma once
// Where note files live inside a vault, and the folder texts that name
// places under `notes`.
//
// A note created by the system is `notes/<id>.md`; only a move puts a note in
// a subfolder. Identifiers are file-name stems, so an identifier that could
// escape its folder never becomes part of a path: such ids are "unsafe".

#include "index/stored_path.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace core {

struct Vault;

// Whether `id` may be used as a file-name stem: not empty, not "." or "..",
// and without "/", "\" or NUL.
bool is_safe_note_id(std::string_view id);

// `<root>/notes/<id>.md`; nullopt for an unsafe id.
std::optional<std::filesystem::path> default_note_path(const Vault& vault, std::string_view id);

// `<root>/notes/<normalised folder>/<id>.md`, never outside `notes`;
// nullopt for an unsafe id.
std::optional<std::filesystem::path> move_target(const Vault& vault, std::string_view folder, std::string_view id);

// The root joined with normalize_stored_path(stored_path) (stored_path.hpp), or nullopt when
// that is nullopt. Nothing outside `notes` is ever followed.
std::optional<std::filesystem::path> safe_stored_path(const Vault& vault, std::string_view stored_path);

}  // namespace core
