#include "app/cli.hpp"
#include "server/dispatch.hpp"
#include "server/stdio_loop.hpp"

#include <csignal>
#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const std::optional<mcp::ServeOptions> serve = mcp::serve_options(args);
  if (!serve) return mcp::run_command_line(args, std::cout, std::cerr);
  // A client that closes its end of stdout must not kill the server, and
  // neither may a file size limit (ulimit -f): with the signal ignored, a
  // write past the limit fails with EFBIG and the call answers
  // "IO error: File too large", leaving the old note in place.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  std::ios::sync_with_stdio(false);
  // The vaults the calls use stay open while the server runs; they close,
  // each after a checkpoint, when input ends and the loop returns.
  mcp::OpenVaults vaults;
  mcp::run_loop(
      std::cin, std::cout,
      [vault = serve->vault, &vaults](const std::string& name, const nlohmann::json& arguments) {
        return mcp::call_tool_with_current_config(name, arguments, vault, vaults);
      },
      serve->protocol);
  return 0;
}
