#pragma once
// The real server binary as a child process spoken to line by line, for
// tests that need the same process across calls while something else
// happens between them (a second server, a file changed by hand).

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace mcp::testing {

class ServerSession {
 public:
  // Starts `binary` with `args` and an environment of exactly `env`.
  ServerSession(const std::string& binary, const std::map<std::string, std::string>& env,
                const std::vector<std::string>& args = {});
  ~ServerSession();  // ends input and waits for the process
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // Sends `line` (a newline is added) and gives the next line the server
  // writes, without its newline; empty once the server has gone.
  std::string ask(const std::string& line);

  // Ends the server's input and gives its exit status (-1 when it did not
  // exit normally, or was not started).
  int finish();

 private:
  pid_t pid_ = -1;
#ifdef _WIN32
  void* process_ = nullptr;  // the child's process handle
#endif
  int to_ = -1;
  int from_ = -1;
  std::string pending_;  // read past the last line given
};

}  // namespace mcp::testing
