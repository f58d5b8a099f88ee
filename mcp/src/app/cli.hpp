#pragma once
// The program's command line. Without arguments, or with only the serving
// options `--vault V` and `--protocol P` (each at most once, also written
// `--vault=V`, `--protocol=P`), the program serves MCP on stdin/stdout;
// `--version` and `--help` print and exit; a command's name runs that
// command; anything else is a usage error.

#include "server/protocol.hpp"

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mcp {

// "brask-tolvane-mcp 0.1.0", without a line feed.
std::string_view version_text();

// The text `--help` prints: what the program is, how it is driven, where its
// configuration lives, and the commands. Ends with a line feed.
const std::string& usage_text();

// What a serving run was started with.
struct ServeOptions {
  std::optional<std::string> vault;  // `--vault`: first in the default vault chain
  // `--protocol`: the newest version `initialize` may agree on.
  ProtocolVersion protocol = kDefaultProtocol;
  // `--follow-files`: the index follows the note files, whatever mcp.json says.
  bool follow_files = false;
};

// The options when `args` asks for the server: no arguments, or serving
// options only, each once, each with its value (a `--vault` value not
// blank), `--protocol` naming a version the server speaks. nullopt for anything else, which
// run_command_line then handles.
std::optional<ServeOptions> serve_options(std::span<const std::string_view> args);

// Handles the arguments of a run that does not serve (the program name left
// out; main serves when there are none) and gives the exit status.
// A first argument naming a command runs that command with the rest.
// `--version` and `--help`, each alone, write their text to `out` and give 0.
// Any other list, the empty one included, writes one line naming the first
// argument not accepted, then the usage text, to `err` and gives 2.
int run_command_line(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace mcp
