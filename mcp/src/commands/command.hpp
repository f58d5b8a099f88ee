#pragma once
// A command for the person who owns the vault: `brask-tolvane-mcp NAME ...`.
// Commands print for a person on `out`, report problems on `err`, and give
// the exit status: kExitOk, kExitProblems (it found problems or failed) or
// kExitUsage (the arguments were wrong).

#include <iosfwd>
#include <span>
#include <string_view>

namespace mcp {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblems = 1;
inline constexpr int kExitUsage = 2;

// `args` are the arguments after the command's name.
using CommandMain = int (*)(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

struct Command {
  std::string_view name;
  std::string_view summary;  // one line for the program's --help
  CommandMain run;
};

}  // namespace mcp
