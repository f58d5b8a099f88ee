#pragma once
// `brask-tolvane-mcp reindex [--vault V] [--dry-run]`: brings the index in
// step with the note files, as if every note had been saved through the
// server. Exit 0 when everything is in step afterwards, 1 when files were
// left alone or a write failed, 2 on bad usage.

#include <iosfwd>
#include <span>
#include <string_view>

namespace mcp {

int reindex_main(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace mcp
