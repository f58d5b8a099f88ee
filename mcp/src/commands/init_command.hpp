#pragma once
// `brask-tolvane-mcp init [PATH]`: makes a vault (the folder, its marker
// folder with an empty index, and notes/), enables the server for it in a
// new mcp.json, and prints what an agent host needs. Nothing that exists is
// changed. Exit 0 done, 1 failed, 2 bad usage.

#include <iosfwd>
#include <span>
#include <string_view>

namespace mcp {

int init_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace mcp
