#pragma once
// The arguments of one command: options (`--name VALUE` or `--name=VALUE`),
// flags (`--name`) and positional words, in any order; `--` ends options
// and a lone "-" is a word.

#include <expected>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mcp {

struct CommandArgs {
  std::map<std::string, std::string, std::less<>> options;  // name without "--" → last value given
  std::set<std::string, std::less<>> flags;                  // names without "--"
  std::vector<std::string> positionals;

  bool has(std::string_view flag) const { return flags.contains(flag); }
  const std::string* option(std::string_view name) const;
};

// Splits `args`. `options` and `flags` name the accepted words without
// "--". Fails with a one-line text for a person: "unknown option: --x",
// "option --x needs a value", "option --x takes no value".
[[nodiscard]] std::expected<CommandArgs, std::string> parse_command_args(
    std::span<const std::string_view> args, std::initializer_list<std::string_view> options,
    std::initializer_list<std::string_view> flags);

// The usual start of the command `name` ("trash"): parses `args` as above
// (`flags` should name "help"). On --help writes `help` to `out` and gives
// kExitOk as the error; on a mistake, or more than `max_words` positional
// words, or a blank --vault, writes "brask-tolvane-mcp NAME: <mistake>" and a
// line pointing to --help to `err` and gives kExitUsage. Otherwise gives the
// arguments.
[[nodiscard]] std::expected<CommandArgs, int> begin_command(
    std::string_view name, std::string_view help, std::span<const std::string_view> args,
    std::initializer_list<std::string_view> options, std::initializer_list<std::string_view> flags,
    std::size_t max_words, std::ostream& out, std::ostream& err);

// Writes "brask-tolvane-mcp NAME: <mistake>" and the line pointing to
// --help to `err`; gives kExitUsage.
int usage_mistake(std::string_view name, std::string_view mistake, std::ostream& err);

}  // namespace mcp
