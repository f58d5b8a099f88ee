#include "testing/server_session.hpp"

#ifndef _WIN32  // server_session_windows.cpp holds the Windows side

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace mcp::testing {

ServerSession::ServerSession(const std::string& binary, const std::map<std::string, std::string>& env,
                             const std::vector<std::string>& args) {
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) return;
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    close(in_pipe[0]), close(in_pipe[1]);
    return;
  }
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> env_text;
  for (const auto& [key, value] : env) env_text.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = binary;
  std::vector<std::string> arg_text = args;
  std::vector<char*> argv{program.data()};
  for (std::string& arg : arg_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  to_ = in_pipe[1];
  from_ = out_pipe[0];
}

ServerSession::~ServerSession() { (void)finish(); }

std::string ServerSession::ask(const std::string& line) {
  const std::string text = line + "\n";
  for (size_t done = 0; to_ >= 0 && done < text.size();) {
    const ssize_t n = write(to_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "";
    done += static_cast<size_t>(n);
  }
  for (;;) {
    if (const size_t end = pending_.find('\n'); end != std::string::npos) {
      std::string answer = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return answer;
    }
    char buffer[65536];
    const ssize_t n = from_ >= 0 ? read(from_, buffer, sizeof buffer) : 0;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

int ServerSession::finish() {
  if (pid_ < 0) return -1;
  if (to_ >= 0) close(to_), to_ = -1;
  char buffer[4096];
  while (from_ >= 0 && read(from_, buffer, sizeof buffer) > 0) {
  }
  if (from_ >= 0) close(from_), from_ = -1;
  int status = 0;
  waitpid(std::exchange(pid_, -1), &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace mcp::testing

#endif  // _WIN32
