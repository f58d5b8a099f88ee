#include "reindex_timing.hpp"

#include "report.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

namespace bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Runs `args` (args[0] the program) with `env`, stdin, stdout and stderr on
// /dev/null; gives the wall time, or a failure for a run that did not exit 0.
Outcome<double> timed_run(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const auto started = Clock::now();
  const pid_t child = fork();
  if (child < 0) return failure("fork failed");
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(null, fd);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return failure(args[1] + " exited with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
  return seconds;
}

std::string rate(size_t notes, double seconds) {
  return format_ms(seconds) + " s = " + with_thousands(static_cast<uint64_t>(std::llround(notes / seconds))) + " notes/s";
}

}  // namespace

Outcome<ReindexTimes> time_reindex(const std::string& binary, const std::vector<std::string>& env,
                                   const fs::path& vault) {
  const fs::path index = vault / ".brask-tolvane" / "index.db";
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(index.string() + suffix, ignored);
  const std::vector<std::string> args = {binary, "reindex", "--vault", vault.string()};
  ReindexTimes times;
  auto full = timed_run(args, env);
  if (!full) return failure("full reindex: " + full.error());
  times.full_seconds = *full;
  auto noop = timed_run(args, env);
  if (!noop) return failure("reindex with nothing to do: " + noop.error());
  times.noop_seconds = *noop;
  return times;
}

std::string reindex_remark(size_t notes, const ReindexTimes& times) {
  return "reindex (the binary's `reindex` command): full, after clearing the index, " + rate(notes, times.full_seconds) +
         "; nothing to do " + rate(notes, times.noop_seconds);
}

}  // namespace bench
