#include "testing/server_process.hpp"

#ifndef _WIN32  // server_process_windows.cpp holds the Windows side

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

namespace mcp::testing {
namespace {

void append_from(int fd, std::string& into, bool& open) {
  char buffer[65536];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<size_t>(n));
  else if (n == 0 || errno != EINTR) open = false;
}

}  // namespace

ServerRun run_server(const std::string& binary, const std::string& input,
                     const std::map<std::string, std::string>& env, const std::vector<std::string>& args) {
  // Close-on-exec, so that a server started at the same time from another
  // thread does not inherit this one's ends and keep its stdin open.
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC)) return {};
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> env_text;
  for (const auto& [key, value] : env) env_text.push_back(key + "=" + value);
  std::vector<char*> envp, argv;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = binary;
  std::vector<std::string> arg_text = args;
  argv.push_back(program.data());
  for (auto& a : arg_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);

  ServerRun run;
  size_t written = 0;
  bool in_open = true, out_open = true, err_open = true;
  if (input.empty()) close(in_pipe[1]), in_open = false;
  while (out_open || err_open) {
    std::array<pollfd, 3> fds{{{out_open ? out_pipe[0] : -1, POLLIN, 0},
                               {err_open ? err_pipe[0] : -1, POLLIN, 0},
                               {in_open ? in_pipe[1] : -1, POLLOUT, 0}}};
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) append_from(out_pipe[0], run.out, out_open);
    if (fds[1].revents) append_from(err_pipe[0], run.err, err_open);
    if (in_open && fds[2].revents) {
      ssize_t n = write(in_pipe[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) written = input.size();
      if (written == input.size()) close(in_pipe[1]), in_open = false;
    }
  }
  if (in_open) close(in_pipe[1]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace mcp::testing

#endif  // _WIN32
