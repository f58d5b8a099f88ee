// The configuration readers. The input is the text of mcp.json, then
// optionally a NUL byte and the text of settings.json, then another NUL byte
// and a vault argument; the files are written to a scratch configuration
// directory (HOME points at it) and read as the server reads them on every
// call.
//
// Checked beyond "no crash": recent vaults are folded into the library, and
// each entry's own path (when not blank) selects a vault.

#include "config/config.hpp"
#include "config/strict_json.hpp"
#include "config/vault_select.hpp"
#include "input_parts.hpp"
#include "base/text.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

// A plain array, so that it outlives every destructor run at exit.
char scratch_dir[] = "/tmp/bt-fuzz-config-XXXXXX";

void remove_scratch_home() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_dir, ignored);
}

void make_scratch_home() {
  static const bool made = [] {
    if (mkdtemp(scratch_dir) == nullptr) std::abort();
    std::atexit(remove_scratch_home);
    std::filesystem::create_directories(std::filesystem::path(scratch_dir) / ".config/brask-tolvane");
    setenv("HOME", scratch_dir, 1);
    unsetenv("BRASK_TOLVANE_VAULT");
    return true;
  }();
  (void)made;
}

void write_file(const std::filesystem::path& file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  make_scratch_home();
  InputParts parts(data, size);
  const std::string_view mcp_json = parts.next();
  const std::string_view settings_json = parts.next();
  const std::string_view vault = parts.next();
  write_file(core::mcp_config_file(), mcp_json);
  write_file(core::settings_file(), settings_json);

  (void)core::parse_strict_json(mcp_json);
  const core::McpConfig config = core::load_mcp_config();
  const core::VaultLibrarySnapshot library = core::load_vault_library();
  core::read_settings_vault_path();
  core::default_vault_root(config);
  core::resolve_vault_argument(vault, library.vaults);
  core::expand_home(vault);
  core::same_vault_path(vault, settings_json);

  if (!library.recent_vaults.empty()) std::abort();
  for (const core::VaultLibraryEntry& entry : library.vaults) {
    if (core::trim(entry.path).empty()) continue;
    if (!core::resolve_vault_argument(entry.path, library.vaults)) std::abort();
  }
  return 0;
}
