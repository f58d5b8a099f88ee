#pragma once
// Runs the real server binary as a child process, for end-to-end tests.

#include <map>
#include <string>
#include <vector>

namespace mcp::testing {

struct ServerRun {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when the child did not exit normally
};

// Starts `binary` with `args`, an environment of exactly `env`, feeds it
// `input` on stdin, closes stdin and collects everything it writes until it
// exits. Several threads may run servers at once.
ServerRun run_server(const std::string& binary, const std::string& input,
                     const std::map<std::string, std::string>& env = {},
                     const std::vector<std::string>& args = {});

}  // namespace mcp::testing
