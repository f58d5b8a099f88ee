#include "app/cli.hpp"
#include "app/process_setup.hpp"
#include "server/dispatch.hpp"
#include "server/stdio_loop.hpp"

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
  mcp::use_binary_standard_streams();
  const std::vector<std::string> arg_texts = mcp::command_line_arguments(argc, argv);
  const std::vector<std::string_view> args(arg_texts.begin(), arg_texts.end());
  const std::optional<mcp::ServeOptions> serve = mcp::serve_options(args);
  if (!serve) return mcp::run_command_line(args, std::cout, std::cerr);
  mcp::ignore_write_signals();
  std::ios::sync_with_stdio(false);
  // The vaults the calls use stay open while the server runs; they close,
  // each after a checkpoint, when input ends and the loop returns.
  mcp::OpenVaults vaults;
  mcp::run_loop(
      std::cin, std::cout,
      [vault = serve->vault, follow = serve->follow_files, &vaults](const std::string& name,
                                                                    const nlohmann::json& arguments) {
        return mcp::call_tool_with_current_config(name, arguments, vault, follow, vaults);
      },
      serve->protocol);
  return 0;
}
