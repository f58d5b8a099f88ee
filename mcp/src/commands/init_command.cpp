#include "commands/init_command.hpp"

#include "commands/command.hpp"
#include "commands/command_args.hpp"
#include "config/config.hpp"
#include "index/index_db.hpp"

#include <nlohmann/json.hpp>

#include <fstream>
#include <ostream>
#include <system_error>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kBuiltInVault = "~/Brask/vaults/default";

constexpr std::string_view kHelp =
    "Usage: brask-tolvane-mcp init [PATH]\n"
    "\n"
    "Makes a vault at PATH (default ~/Brask/vaults/default): the folder,\n"
    ".brask-tolvane/ with an empty index.db, and notes/. An existing vault is\n"
    "left as it is. When mcp.json does not exist, writes one that enables the\n"
    "server for this vault; an existing mcp.json is never changed (what to put\n"
    "in it is printed instead). Last, prints the entry an agent host needs.\n"
    "\n"
    "Options:\n"
    "  --help  print this text\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 bad usage.\n";

// The running program's own absolute path, for the host entry.
std::string own_binary() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("brask-tolvane-mcp") : self.string();
}

// Makes the vault's parts that are missing; an existing vault is not touched.
// Gives false, with the reason on `err`, when it cannot.
bool make_vault(const fs::path& root, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (fs::exists(root / ".brask-tolvane", ec)) {
    out << "Vault exists at " << root.string() << "; left as it is.\n";
    return true;
  }
  if (fs::exists(root, ec) && !fs::is_directory(root, ec)) {
    err << "brask-tolvane-mcp init: " << root.string() << " exists and is not a folder\n";
    return false;
  }
  for (const fs::path& dir : {root, root / ".brask-tolvane", root / "notes"}) {
    fs::create_directories(dir, ec);
    if (ec) {
      err << "brask-tolvane-mcp init: cannot create " << dir.string() << ": " << ec.message() << '\n';
      return false;
    }
  }
  auto vault = core::open_vault(root);  // creates index.db with the server's schema
  if (!vault) {
    err << "brask-tolvane-mcp init: cannot create the index: " << core::to_text(vault.error()) << '\n';
    return false;
  }
  out << "Created a vault at " << root.string() << " (.brask-tolvane/index.db, notes/).\n";
  return true;
}

bool write_new_file(const fs::path& file, const std::string& text) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec) return false;
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << text;
  stream.close();
  return stream.good();
}

// Writes mcp.json only when there is none; otherwise says what it should hold.
bool configure(const fs::path& root, std::ostream& out, std::ostream& err) {
  const json wanted = {{"enabled", true}, {"vault_path", root.string()}};
  const fs::path file = core::mcp_config_file();
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) {
    if (!write_new_file(file, wanted.dump(2) + "\n")) {
      err << "brask-tolvane-mcp init: cannot write " << file.string() << '\n';
      return false;
    }
    out << "Wrote " << file.string() << ": the server is enabled for this vault.\n";
    return true;
  }
  core::McpConfig config;
  const core::ConfigFileCheck check = core::check_mcp_config(config);
  if (check.state == core::ConfigFileState::Read && config.enabled && config.vault_path &&
      core::same_vault_path(*config.vault_path, root.string())) {
    out << file.string() << " already enables the server for this vault.\n";
    return true;
  }
  out << file.string() << " exists and was not changed. To use this vault, make it hold:\n"
      << wanted.dump(2) << '\n';
  return true;
}

}  // namespace

int init_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
  auto parsed = begin_command("init", kHelp, args, {}, {"help"}, 1, out, err);
  if (!parsed) return parsed.error();
  const std::string_view given = parsed->positionals.empty() ? kBuiltInVault : parsed->positionals.front();
  std::error_code ec;
  const fs::path root = fs::absolute(core::expand_home(given), ec).lexically_normal();
  if (ec || root.empty()) {
    err << "brask-tolvane-mcp init: cannot make an absolute path of " << given << '\n';
    return kExitProblems;
  }
  const fs::path clean = root.has_filename() ? root : root.parent_path();
  if (!make_vault(clean, out, err) || !configure(clean, out, err)) return kExitProblems;
  const json host = {{"mcpServers", {{"brask-tolvane", {{"command", own_binary()}, {"args", json::array()}}}}}};
  out << "\nFor an agent host's configuration:\n" << host.dump(2) << '\n';
  return kExitOk;
}

}  // namespace mcp
