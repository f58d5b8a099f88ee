#include "app/cli.hpp"

#include "base/text.hpp"
#include "commands/commands.hpp"

#include <ostream>

namespace mcp {
namespace {

constexpr std::string_view kVersion = "brask-tolvane-mcp 0.1.0";

// Names the locations as patterns rather than expanding HOME: --help reads
// nothing from the environment or the disk.
constexpr std::string_view kUsage =
    "Usage: brask-tolvane-mcp [--help | --version]\n"
    "       brask-tolvane-mcp [--vault V]         serve MCP on stdin/stdout\n"
    "       brask-tolvane-mcp COMMAND [ARGS...]   (COMMAND --help for its own)\n"
    "\n"
    "An MCP server for a Brask Tolvane notes vault. An agent host starts it as a\n"
    "child process and speaks MCP (JSON-RPC 2.0, one message per line) on its\n"
    "standard input and output. Started without arguments it serves until\n"
    "standard input ends.\n"
    "\n"
    "Configuration (read on every tool call, never written):\n"
    "  $HOME/.config/brask-tolvane/mcp.json       {\"enabled\": true, \"vault_path\": \"...\"}\n"
    "  $HOME/.config/brask-tolvane/settings.json  the desktop application's vault library\n"
    "  (when HOME is unset: %APPDATA%\\brask-tolvane\\)\n"
    "Tool calls are refused until mcp.json sets \"enabled\" to true. A call works on\n"
    "its `vault` argument, else the server's --vault, else $BRASK_TOLVANE_VAULT,\n"
    "else vault_path in mcp.json, else vault_path in settings.json, else\n"
    "~/Brask/vaults/default.\n"
    "\n"
    "Options:\n"
    "  --vault V  serve with V (a path, or a library label or id) as the default vault\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n";

std::string build_usage() {
  std::string text(kUsage);
  if (all_commands().empty()) return text;
  text += "\nCommands:\n";
  for (const Command& command : all_commands()) {
    text += "  ";
    text += command.name;
    text.append(command.name.size() < 9 ? 9 - command.name.size() : 1, ' ');
    text += command.summary;
    text += '\n';
  }
  return text;
}

int misuse(std::string_view problem, std::string_view argument, std::ostream& err) {
  err << "brask-tolvane-mcp: " << problem << ": " << argument << '\n' << usage_text();
  err.flush();
  return 2;
}

}  // namespace

std::string_view version_text() { return kVersion; }

namespace {

// The value of a lone `--vault V` or `--vault=V`, as given (maybe blank).
std::optional<std::string_view> vault_value(std::span<const std::string_view> args) {
  if (args.size() == 2 && args[0] == "--vault") return args[1];
  if (args.size() == 1 && args[0].starts_with("--vault=")) return args[0].substr(8);
  return std::nullopt;
}

}  // namespace

std::optional<ServeOptions> serve_options(std::span<const std::string_view> args) {
  if (args.empty()) return ServeOptions{};
  const auto vault = vault_value(args);
  // A blank value would quietly mean the default vault: it is refused.
  if (!vault || core::trim(*vault).empty()) return std::nullopt;
  return ServeOptions{std::string(*vault)};
}

const std::string& usage_text() {
  static const std::string usage = build_usage();
  return usage;
}

int run_command_line(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return misuse("missing argument", "expected --help or --version", err);
  const std::string_view first = args.front();
  if (const Command* command = find_command(first)) return command->run(args.subspan(1), out, err);
  if (const auto vault = vault_value(args); vault && core::trim(*vault).empty()) return misuse("missing value", first, err);
  if (first == "--vault") {
    if (args.size() == 1) return misuse("missing value", first, err);
    return misuse("unexpected argument", args[2], err);
  }
  if (first.starts_with("--vault=")) return misuse("unexpected argument", args[1], err);
  if (first != "--version" && first != "--help") return misuse("unknown argument", first, err);
  if (args.size() > 1) return misuse("unexpected argument", args[1], err);
  if (first == "--version") out << kVersion << '\n';
  else out << usage_text();
  out.flush();
  return 0;
}

}  // namespace mcp
