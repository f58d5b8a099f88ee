#include "main/stdio_loop.hpp"

#include <csignal>
#include <iostream>

int main() {
  // A client that closes its end of stdout must not kill the server.
  std::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
  mcp::run_loop(std::cin, std::cout, [](const std::string&, const nlohmann::json&) -> mcp::ToolOutcome {
    return std::unexpected(mcp::ToolError{"tools are not available in this build"});
  });
  return 0;
}
