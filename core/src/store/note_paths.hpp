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

// Whether this platform's file system keeps Windows's rules for names
// (device names, trailing dots and spaces, letter case): Windows only. On
// other systems such names are ordinary files and stay allowed.
constexpr bool kWindowsNames =
#ifdef _WIN32
    true;
#else
    false;
#endif

// Why Windows cannot keep `name` (a note id, or one folder of a path) as a
// file or folder name of its own, or nullopt when it can: a device name
// (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, in any letter case, also
// followed by an extension or by spaces), a name ending in a dot or a
// space (Windows drops them), or a character Windows refuses in names
// (< > : " | ? * and the control characters).
std::optional<std::string> windows_name_problem(std::string_view name);

// `<root>/notes/<id>.md`; nullopt for an unsafe id.
std::optional<std::filesystem::path> default_note_path(const Vault& vault, std::string_view id);

// `<root>/notes/<normalised folder>/<id>.md`, never outside `notes`;
// nullopt for an unsafe id.
std::optional<std::filesystem::path> move_target(const Vault& vault, std::string_view folder, std::string_view id);

// The root joined with normalize_stored_path(stored_path) (stored_path.hpp), or nullopt when
// that is nullopt. Nothing outside `notes` is ever followed.
std::optional<std::filesystem::path> safe_stored_path(const Vault& vault, std::string_view stored_path);

}  // namespace core
