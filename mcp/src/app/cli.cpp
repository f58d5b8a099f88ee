#include "app/cli.hpp"

#include "base/text.hpp"
#include "commands/commands.hpp"

#include <expected>
#include <ostream>

namespace mcp {
namespace {

constexpr std::string_view kVersion = "brask-tolvane-mcp 0.1.0";

// Names the locations as patterns rather than expanding HOME: --help reads
// nothing from the environment or the disk.
constexpr std::string_view kUsage =
    "Usage: brask-tolvane-mcp [--help | --version]\n"
    "       brask-tolvane-mcp [--vault V] [--protocol P] [--follow-files]\n"
    "                                                  serve MCP on stdin/stdout\n"
    "       brask-tolvane-mcp COMMAND [ARGS...]            (COMMAND --help for its own)\n"
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
    "  --vault V     serve with V (a path, or a library label or id) as the default vault\n"
    "  --protocol P  the newest MCP version to agree on with a host: 2024-11-05 (the\n"
    "                default), 2025-03-26 (tool annotations), 2025-06-18 (titles,\n"
    "                structured results) or 2025-11-25 (server description, instructions)\n"
    "  --follow-files  keep the index in step with note files that other programs\n"
    "                write, before each call answers (as \"follow_files\": true in mcp.json)\n"
    "  --help        print this text and exit\n"
    "  --version     print the version and exit\n";

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

bool is_option(std::string_view arg, std::string_view name) {
  return arg == name || (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
}

bool is_serve_option(std::string_view arg) {
  return is_option(arg, "--vault") || is_option(arg, "--protocol") || is_option(arg, "--follow-files");
}

// The first thing wrong with a list of serving options.
struct ServeMistake {
  std::string_view problem;
  std::string_view argument;
};

std::expected<ServeOptions, ServeMistake> parse_serve_options(std::span<const std::string_view> args) {
  ServeOptions options;
  bool vault_seen = false, protocol_seen = false, follow_seen = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool vault = is_option(arg, "--vault");
    const bool follow = is_option(arg, "--follow-files");
    bool& seen = vault ? vault_seen : follow ? follow_seen : protocol_seen;
    if (!is_serve_option(arg) || seen) return std::unexpected(ServeMistake{"unexpected argument", arg});
    seen = true;
    if (follow) {
      if (arg != "--follow-files") return std::unexpected(ServeMistake{"unexpected argument", arg});  // takes no value
      options.follow_files = true;
      continue;
    }
    std::string_view value;
    if (const size_t eq = arg.find('='); eq != std::string_view::npos) value = arg.substr(eq + 1);
    else if (i + 1 < args.size()) value = args[++i];
    else return std::unexpected(ServeMistake{"missing value", arg});
    if (vault) {
      // A blank value would quietly mean the default vault: it is refused.
      if (core::trim(value).empty()) return std::unexpected(ServeMistake{"missing value", arg});
      options.vault = std::string(value);
    } else if (auto version = protocol_version_named(value)) {
      options.protocol = *version;
    } else {
      return std::unexpected(ServeMistake{"unsupported protocol version", value});
    }
  }
  return options;
}

int misuse(std::string_view problem, std::string_view argument, std::ostream& err) {
  err << "brask-tolvane-mcp: " << problem << ": " << argument << '\n' << usage_text();
  err.flush();
  return 2;
}

}  // namespace

std::string_view version_text() { return kVersion; }

std::optional<ServeOptions> serve_options(std::span<const std::string_view> args) {
  if (!args.empty() && !is_serve_option(args.front())) return std::nullopt;
  auto options = parse_serve_options(args);
  if (!options) return std::nullopt;
  return *options;
}

const std::string& usage_text() {
  static const std::string usage = build_usage();
  return usage;
}

int run_command_line(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return misuse("missing argument", "expected --help or --version", err);
  const std::string_view first = args.front();
  if (const Command* command = find_command(first)) return command->run(args.subspan(1), out, err);
  if (is_serve_option(first)) {
    auto options = parse_serve_options(args);
    // A list that would serve is not this function's to run.
    if (options) return misuse("unexpected argument", first, err);
    return misuse(options.error().problem, options.error().argument, err);
  }
  if (first != "--version" && first != "--help") return misuse("unknown argument", first, err);
  if (args.size() > 1) return misuse("unexpected argument", args[1], err);
  if (first == "--version") out << kVersion << '\n';
  else out << usage_text();
  out.flush();
  return 0;
}

}  // namespace mcp
