#pragma once
// The server's configuration: where its two files are, what they hold, and
// the path operations that vault selection builds on.
//
// The configuration directory is shared with the desktop application. The
// server only reads it: nothing here writes a file or creates a directory.
// Every call reads the environment and the files afresh, and no function
// here fails: a missing, unreadable or malformed file reads as its defaults.
//
// A file is malformed when it is not valid UTF-8, is not exactly one JSON
// value, its top-level value is not an object, a member named in the records
// below has another JSON type (null only where noted), an entry lacks `id`,
// `label` or `path`, or one of those named keys occurs twice in one object.
// Other keys are ignored.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The content of mcp.json.
struct McpConfig {
  bool enabled = false;                   // tool calls are refused while false
  std::optional<std::string> vault_path;  // as written (untrimmed); JSON null reads as none
  // Not read from the file: the server's own `--vault` argument, which the
  // program sets after loading. It stands first in the default chain.
  std::optional<std::string> vault_flag;
  // Whether the server keeps the index in step with note files that other
  // programs write (sync/follow.hpp). The program also sets it from its
  // `--follow-files` option.
  bool follow_files = false;
};

// One entry of the vault library in settings.json.
struct VaultLibraryEntry {
  std::string id;     // matched exactly
  std::string label;  // matched ignoring ASCII case
  std::string path;   // as written; may start with "~"
  bool pinned = false;
  std::optional<std::string> last_opened_at;  // JSON null reads as none
};

// The part of settings.json the server reads. In settings.json no member of
// these records except `last_opened_at` may be null.
struct VaultLibrarySnapshot {
  std::string vault_path;                  // the application's current vault, as written
  std::vector<VaultLibraryEntry> vaults;   // the library, in file order
  std::vector<std::string> recent_vaults;  // empty once loaded: folded into `vaults`
};

// The configuration directory: $HOME/.config/brask-tolvane when HOME is set
// (even when empty), else $APPDATA/brask-tolvane when APPDATA is set, else
// the relative path .config/brask-tolvane.
std::filesystem::path config_dir();
// config_dir() joined with "mcp.json" and with "settings.json".
std::filesystem::path mcp_config_file();
std::filesystem::path settings_file();

// What became of reading one configuration file.
enum class ConfigFileState { Missing, Read, Unreadable, Invalid };

struct ConfigFileCheck {
  std::filesystem::path file;
  ConfigFileState state = ConfigFileState::Missing;
  // For a person: why the file was not used. Unreadable: "cannot be read",
  // "is a folder". Invalid: the JSON parser's message with line and column,
  // "not valid UTF-8", `key "enabled" occurs twice`, `"enabled" must be
  // true or false, found a string`, and the like.
  std::string problem;
};

// Reads mcp.json into `config` as load_mcp_config does (defaults unless it
// is Read) and tells what became of the file.
ConfigFileCheck check_mcp_config(McpConfig& config);

// Reads settings.json into `snapshot` as it is in the file (nothing folded
// or added, unlike load_vault_library) and tells what became of it.
ConfigFileCheck check_settings(VaultLibrarySnapshot& snapshot);

// mcp.json, or {enabled false, no vault_path} when it is missing or malformed.
McpConfig load_mcp_config();

// The vault library of settings.json (the empty snapshot when the file is
// missing or malformed), completed in memory: an entry is appended, through
// ensure_library_entry, for the trimmed top-level `vault_path` and then for
// each trimmed `recent_vaults` text that is not blank; `recent_vaults` is
// emptied. Appended entries get new identifiers on every load.
VaultLibrarySnapshot load_vault_library();

// The trimmed top-level `vault_path` of settings.json when the file parses
// as JSON, its top-level value is an object and that member is a string that
// is not blank; otherwise nullopt. Ignores everything else in the file, so
// it can give a value where load_vault_library rejects the file.
std::optional<std::string> read_settings_vault_path();

// `text` trimmed of white space, with a leading "~/" or a lone "~" replaced
// by the home directory ($HOME if set, else $USERPROFILE if set). Any other
// text, "~user" and "~\" included, and a tilde form when neither variable is
// set, comes back trimmed but otherwise unchanged.
std::filesystem::path expand_home(std::string_view text);

// Whether `a` and `b` name the same vault directory: each is home-expanded,
// made valid UTF-8 (bad bytes become U+FFFD), backslashes become slashes, it
// is lower-cased with full Unicode case mapping and, when longer than one
// byte, loses its trailing slashes; the results are compared byte for byte.
bool same_vault_path(std::string_view a, std::string_view b);

// Appends an entry for `path` unless `path` is blank or some entry's `path`
// is the same vault path. The entry: a new identifier from new_note_id, a
// label from the path's last component (the trimmed text itself when there
// is none, as for a root or a path ending in ".."), the trimmed path text
// unexpanded, not pinned, no last_opened_at.
void ensure_library_entry(VaultLibrarySnapshot& snapshot, std::string_view path);

}  // namespace core
