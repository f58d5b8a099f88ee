#include "commands/init_command.hpp"

#include "commands/command.hpp"
#include "base/files.hpp"
#include "base/process.hpp"
#include "base/text.hpp"
#include "commands/command_args.hpp"
#include "commands/shown_path.hpp"
#include "config/config.hpp"
#include "config/vault_select.hpp"
#include "index/index_db.hpp"

#include <nlohmann/json.hpp>

#include <fstream>
#include <optional>
#include <ostream>
#include <system_error>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kHelp =
    "Usage: brask-tolvane-mcp init [PATH]\n"
    "\n"
    "Makes a vault at PATH (default ~/Brask/vaults/default): the folder,\n"
    ".brask-tolvane/ with an empty index.db, and notes/. An existing vault is\n"
    "left as it is; a .brask-tolvane, notes or index.db that is not what a\n"
    "vault holds (a plain file, a link to nothing) is refused. When mcp.json\n"
    "does not exist, writes one that enables the\n"
    "server for this vault; an existing mcp.json is never changed (what to put\n"
    "in it is printed instead). Last, prints the entry an agent host needs.\n"
    "\n"
    "Options:\n"
    "  --help  print this text\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 bad usage.\n";

constexpr std::string_view kName = "brask-tolvane-mcp init: ";

// The running program's own absolute path, for the host entry.
fs::path own_binary() { return core::running_program(); }

// Whether anything, a dangling link included, has the name `path`.
bool taken(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// What stands in the way of an existing `.brask-tolvane` being used as a
// vault's marker: the marker or `notes` is something other than a folder
// (a plain file, a link to nothing), or `index.db` is not a file. Empty
// when nothing does.
std::string in_the_way(const fs::path& root) {
  std::error_code ec;
  const fs::path marker = root / ".brask-tolvane";
  if (!fs::is_directory(marker, ec)) return shown_path(marker) + " exists and is not a folder";
  if (taken(root / "notes") && !fs::is_directory(root / "notes", ec))
    return shown_path(root / "notes") + " exists and is not a folder";
  const fs::path index = marker / "index.db";
  if (taken(index) && !fs::is_regular_file(index, ec)) return shown_path(index) + " exists and is not a file";
  return {};
}

// Makes the vault's parts that are missing; an existing vault is not touched.
// Gives false, with the reason on `err`, when it cannot, or when what is
// there is no vault and would not become one without moving something.
bool make_vault(const fs::path& root, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (taken(root / ".brask-tolvane")) {
    if (const std::string problem = in_the_way(root); !problem.empty()) {
      err << kName << problem << ", so " << shown_path(root) << " is no vault; move it aside and run init again\n";
      return false;
    }
    out << "Vault exists at " << shown_path(root) << "; left as it is.\n";
    return true;
  }
  if (fs::exists(root, ec) && !fs::is_directory(root, ec)) {
    err << kName << shown_path(root) << " exists and is not a folder\n";
    return false;
  }
  for (const fs::path& dir : {root, root / ".brask-tolvane", root / "notes"}) {
    fs::create_directories(dir, ec);
    if (ec) {
      err << kName << "cannot create " << shown_path(dir) << ": " << ec.message() << '\n';
      return false;
    }
  }
  auto vault = core::open_vault(root);  // creates index.db with the server's schema
  if (!vault) {
    err << kName << "cannot create the index: " << core::to_text(vault.error()) << '\n';
    return false;
  }
  out << "Created a vault at " << shown_path(root) << " (.brask-tolvane/index.db, notes/).\n";
  return true;
}

// The text mcp.json can hold for `root`: the path itself, or, when it is
// not UTF-8 (which a JSON text cannot hold) but lies below the home folder
// and the rest is, "~/<the rest>", which the server expands against HOME.
// nullopt when neither can name it.
std::optional<std::string> config_text(const fs::path& root) {
  if (std::string text = core::path_utf8(root); core::is_valid_utf8(text)) return text;
  const fs::path home = core::expand_home("~");
  if (home.empty() || home == "~") return std::nullopt;
  const fs::path below = root.lexically_relative(home.lexically_normal());
  if (below.empty() || *below.begin() == ".." || below == "." || !core::is_valid_utf8(core::path_utf8(below))) return std::nullopt;
  return "~/" + below.generic_string();
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
// Gives false, with the reason on `err`, when mcp.json cannot be written or
// cannot name the vault.
bool configure(const fs::path& root, std::ostream& out, std::ostream& err) {
  const fs::path file = core::mcp_config_file();
  const std::optional<std::string> vault_text = config_text(root);
  if (!vault_text) {
    err << kName << "mcp.json cannot name " << shown_path(root)
        << ": the path is not UTF-8, which a JSON text cannot hold; " << shown_path(file)
        << " was not changed; rename the folder whose name is not UTF-8, or start the server with --vault PATH from a script\n";
    return false;
  }
  const json wanted = {{"enabled", true}, {"vault_path", *vault_text}};
  if (!taken(file)) {
    if (!write_new_file(file, wanted.dump(2) + "\n")) {
      err << kName << "cannot write " << shown_path(file) << '\n';
      return false;
    }
    out << "Wrote " << shown_path(file) << ": the server is enabled for this vault.\n";
    return true;
  }
  core::McpConfig config;
  const core::ConfigFileCheck check = core::check_mcp_config(config);
  if (check.state == core::ConfigFileState::Read && config.enabled && config.vault_path &&
      core::same_vault_path(*config.vault_path, *vault_text)) {
    out << shown_path(file) << " already enables the server for this vault.\n";
    return true;
  }
  out << shown_path(file) << " exists and was not changed. To use this vault, make it hold:\n"
      << wanted.dump(2) << '\n';
  return true;
}

}  // namespace

int init_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
  auto parsed = begin_command("init", kHelp, args, {}, {"help"}, 1, out, err);
  if (!parsed) return parsed.error();
  const std::string_view given = parsed->positionals.empty() ? core::kBuiltInVault : parsed->positionals.front();
  std::error_code ec;
  const fs::path root = fs::absolute(core::expand_home(given), ec).lexically_normal();
  if (ec || root.empty()) {
    err << kName << "cannot make an absolute path of " << shown_text(given) << '\n';
    return kExitProblems;
  }
  const fs::path clean = root.has_filename() ? root : root.parent_path();
  if (!make_vault(clean, out, err) || !configure(clean, out, err)) return kExitProblems;
  // A JSON text holds only UTF-8: a program path that is not is shown
  // escaped, and said to be.
  const fs::path binary = own_binary();
  const json host = {{"mcpServers", {{"brask-tolvane", {{"command", shown_path(binary)}, {"args", json::array()}}}}}};
  out << "\nFor an agent host's configuration:\n" << host.dump(2) << '\n';
  if (!core::is_valid_utf8(core::path_utf8(binary)))
    out << "(the program's path is not UTF-8 and is shown escaped: install it under a UTF-8 path for the host)\n";
  return kExitOk;
}

}  // namespace mcp
