#pragma once
// `brask-tolvane-mcp doctor [--vault V] [--json]`: shows, reading only, why
// the server does what it does: the configuration files, the vault the
// default chain picks, the state of its index and how the index stands
// against the note files. Exit 0 when nothing is wrong, 1 when something
// is, 2 on bad usage.

#include <iosfwd>
#include <span>
#include <string_view>

namespace mcp {

int doctor_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace mcp
