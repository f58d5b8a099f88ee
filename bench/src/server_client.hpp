#pragma once
// One server process driven as an MCP client drives it: a child process
// with pipes on its stdin and stdout, one JSON-RPC request per line, each
// answer awaited before the next request is sent.

#include "outcome.hpp"

#include <nlohmann/json.hpp>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace bench {

// The answer to one request and the time the client waited for it: from
// just before the request line is written until its answer's line feed
// has arrived (parsing the answer is not included).
struct TimedReply {
  nlohmann::json value;
  double ms = 0;
};

class ServerProcess {
 public:
  // Starts `binary` with the environment `env` ("NAME=value" texts, nothing
  // inherited). Fails when the pipes cannot be made or the fork fails; a
  // binary that cannot be executed shows up as a closed output on the first
  // request.
  [[nodiscard]] static Outcome<ServerProcess> start(const std::string& binary, const std::vector<std::string>& env);

  ServerProcess(ServerProcess&& other) noexcept;
  ServerProcess& operator=(ServerProcess&&) = delete;
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  // Ends the process like finish(), killing it if it does not exit in time.
  ~ServerProcess();

  // Sends `method` with `params` (omitted when null) and an id of its own,
  // and waits for the answer with that id. `value` is the whole envelope.
  // Fails when the server closes its output, stays silent for `timeout_ms`,
  // or answers with a line that is no JSON object or carries another id.
  [[nodiscard]] Outcome<TimedReply> request(std::string_view method, const nlohmann::json& params,
                                            int timeout_ms = kDefaultTimeoutMs);

  // Sends `method` without an id (a notification); nothing is awaited.
  [[nodiscard]] Outcome<void> notify(std::string_view method);

  // A tools/call: `value` is the tool's result, parsed from the text item of
  // the answer. An error envelope fails with its message.
  [[nodiscard]] Outcome<TimedReply> call_tool(std::string_view name, const nlohmann::json& arguments,
                                              int timeout_ms = kDefaultTimeoutMs);

  // The process's peak resident memory (VmHWM) in KiB, read from /proc.
  [[nodiscard]] Outcome<long> peak_resident_kib() const;

  // Closes the server's stdin and waits for it to exit; gives its exit
  // status. Calling it again gives the same status.
  [[nodiscard]] Outcome<int> finish();

  pid_t pid() const { return pid_; }

  static constexpr int kDefaultTimeoutMs = 15 * 60 * 1000;

 private:
  ServerProcess(pid_t pid, int to_child, int from_child) : pid_(pid), to_child_(to_child), from_child_(from_child) {}
  [[nodiscard]] Outcome<void> write_all(std::string_view text);
  [[nodiscard]] Outcome<std::string> read_line(int timeout_ms);

  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string pending_;       // bytes read past the last line handed out
  size_t scanned_ = 0;        // bytes of pending_ known to hold no line feed
  long next_id_ = 1;
  int exit_status_ = -1;
};

}  // namespace bench
