#include "server_client.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string os_error(std::string_view what) { return std::string(what) + ": " + std::strerror(errno); }

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Waits up to `grace_ms` for `pid` to exit; -1 when it is still running.
int wait_for_exit(pid_t pid, int grace_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(grace_ms);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0 && errno != EINTR) return 255;  // not our child any more: nothing left to wait for
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

Outcome<ServerProcess> ServerProcess::start(const std::string& binary, const std::vector<std::string>& env) {
  // A server that dies mid-request must surface as a failed write, not kill us.
  signal(SIGPIPE, SIG_IGN);
  int to_child[2], from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) return failure(os_error("pipe"));
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    close(to_child[0]), close(to_child[1]);
    return failure(os_error("pipe"));
  }
  std::vector<std::string> env_copy = env;
  std::vector<char*> envp;
  for (std::string& entry : env_copy) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = binary;
  char* argv[] = {program.data(), nullptr};

  const pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) close(fd);
    return failure(os_error("fork"));
  }
  if (pid == 0) {
    // dup2 clears close-on-exec on the copies; stderr stays ours.
    dup2(to_child[0], STDIN_FILENO);
    dup2(from_child[1], STDOUT_FILENO);
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  return ServerProcess(pid, to_child[1], from_child[0]);
}

ServerProcess::ServerProcess(ServerProcess&& other) noexcept
    : pid_(other.pid_), to_child_(other.to_child_), from_child_(other.from_child_),
      pending_(std::move(other.pending_)), scanned_(other.scanned_), next_id_(other.next_id_),
      exit_status_(other.exit_status_) {
  other.pid_ = -1;
  other.to_child_ = other.from_child_ = -1;
}

ServerProcess::~ServerProcess() {
  if (pid_ <= 0) return;
  close_fd(to_child_);
  if (exit_status_ < 0 && wait_for_exit(pid_, 10'000) < 0) {
    kill(pid_, SIGKILL);  // our own child, by its id
    waitpid(pid_, nullptr, 0);
  }
  close_fd(from_child_);
}

Outcome<void> ServerProcess::write_all(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(to_child_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return failure(os_error("writing to the server"));
    text.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

Outcome<std::string> ServerProcess::read_line(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  char chunk[1 << 16];
  for (;;) {
    // Long answers (a listing of every note) arrive in many chunks; only the
    // new bytes are searched for the line feed.
    const size_t end = pending_.find('\n', scanned_);
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      scanned_ = 0;
      return line;
    }
    scanned_ = pending_.size();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return failure("no answer from the server within " + std::to_string(timeout_ms) + " ms");
    pollfd wanted{from_child_, POLLIN, 0};
    const int ready = poll(&wanted, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return failure(os_error("waiting for the server"));
    if (ready == 0) continue;
    const ssize_t n = read(from_child_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure(os_error("reading from the server"));
    if (n == 0) return failure("the server closed its output");
    pending_.append(chunk, static_cast<size_t>(n));
  }
}

Outcome<TimedReply> ServerProcess::request(std::string_view method, const json& params, int timeout_ms) {
  const long id = next_id_++;
  json message = {{"id", id}, {"jsonrpc", "2.0"}, {"method", method}};
  if (!params.is_null()) message["params"] = params;
  const std::string line = message.dump() + "\n";

  const auto started = Clock::now();
  if (auto written = write_all(line); !written) return failure(written.error());
  auto answer = read_line(timeout_ms);
  const auto answered = Clock::now();
  if (!answer) return failure(answer.error());

  json value = json::parse(*answer, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded() || !value.is_object()) return failure("the server answered with no JSON object: " + *answer);
  if (value.value("id", json()) != json(id)) return failure("the server answered another request: " + *answer);
  return TimedReply{std::move(value), ms_between(started, answered)};
}

Outcome<void> ServerProcess::notify(std::string_view method) {
  return write_all(json({{"jsonrpc", "2.0"}, {"method", method}}).dump() + "\n");
}

Outcome<TimedReply> ServerProcess::call_tool(std::string_view name, const json& arguments, int timeout_ms) {
  auto reply = request("tools/call", {{"arguments", arguments}, {"name", name}}, timeout_ms);
  if (!reply) return reply;
  const json& envelope = reply->value;
  if (auto error = envelope.find("error"); error != envelope.end()) {
    if (error->is_object() && error->contains("message") && (*error)["message"].is_string())
      return failure((*error)["message"].get<std::string>());
    return failure("malformed error: " + envelope.dump());
  }
  const json* text = nullptr;
  if (auto result = envelope.find("result"); result != envelope.end() && result->is_object()) {
    auto content = result->find("content");
    if (content != result->end() && content->is_array() && content->size() == 1 && (*content)[0].is_object()) {
      auto item = (*content)[0].find("text");
      if (item != (*content)[0].end() && item->is_string()) text = &*item;
    }
  }
  if (text == nullptr) return failure("a tool answer without one text item: " + envelope.dump());
  json value = json::parse(text->get_ref<const std::string&>(), nullptr, false);
  if (value.is_discarded()) return failure("a tool answer whose text is no JSON: " + envelope.dump());
  return TimedReply{std::move(value), reply->ms};
}

Outcome<long> ServerProcess::peak_resident_kib() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  if (!status) return failure("cannot read /proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) != 0) continue;
    try {
      return std::stol(line.substr(6));
    } catch (const std::exception&) {
      return failure("unreadable VmHWM line: " + line);
    }
  }
  return failure("no VmHWM line for process " + std::to_string(pid_));
}

Outcome<int> ServerProcess::finish() {
  if (exit_status_ >= 0) return exit_status_;
  if (pid_ <= 0) return failure("no server process");
  close_fd(to_child_);
  exit_status_ = wait_for_exit(pid_, 60'000);
  if (exit_status_ < 0) return failure("the server did not exit within 60 s of the end of its input");
  return exit_status_;
}

}  // namespace bench
