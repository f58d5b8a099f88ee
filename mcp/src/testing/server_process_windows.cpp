#include "testing/server_process.hpp"

#ifdef _WIN32  // server_process.cpp holds the POSIX side

#include <windows.h>

#include <mutex>
#include <thread>

namespace mcp::testing {
namespace {

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

// One argument as CommandLineToArgvW reads it back: quoted, with the
// backslashes before a quote (and before the closing quote) doubled.
void append_argument(std::wstring& line, const std::wstring& arg) {
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

void read_all(HANDLE from, std::string& into) {
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(from, buffer, sizeof buffer, &n, nullptr) && n > 0) into.append(buffer, n);
}

// Handles are made inheritable only while one child starts, so that a
// server started from another thread at the same moment does not inherit
// this one's ends (and keep its stdin open).
std::mutex& start_lock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

ServerRun run_server(const std::string& binary, const std::string& input,
                     const std::map<std::string, std::string>& env, const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  HANDLE in_read, in_write, out_read, out_write, err_read, err_write;
  if (!CreatePipe(&in_read, &in_write, &plain, 0)) return {};
  if (!CreatePipe(&out_read, &out_write, &plain, 0)) return {};
  if (!CreatePipe(&err_read, &err_write, &plain, 0)) return {};

  std::wstring line;
  append_argument(line, wide(binary));
  for (const std::string& arg : args) {
    line += L' ';
    append_argument(line, wide(arg));
  }
  // Exactly `env`, but for the variable Windows itself needs to load its
  // libraries (a test that wants it gone says so by setting it).
  std::map<std::string, std::string> vars = env;
  if (!vars.contains("SystemRoot"))
    if (const char* root = std::getenv("SystemRoot")) vars["SystemRoot"] = root;
  std::wstring block;
  for (const auto& [key, value] : vars) block += wide(key) + L"=" + wide(value) + L'\0';
  block += L'\0';

  PROCESS_INFORMATION process{};
  BOOL started = FALSE;
  {
    std::lock_guard lock(start_lock());
    for (HANDLE h : {in_read, out_write, err_write}) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                             block.data(), nullptr, &startup, &process);
    for (HANDLE h : {in_read, out_write, err_write}) CloseHandle(h);
  }
  if (!started) {
    for (HANDLE h : {in_write, out_read, err_read}) CloseHandle(h);
    return {};
  }
  CloseHandle(process.hThread);

  ServerRun run;
  std::thread out_reader(read_all, out_read, std::ref(run.out));
  std::thread err_reader(read_all, err_read, std::ref(run.err));
  // A server that stops reading early ends the writes with a broken pipe.
  for (std::size_t written = 0; written < input.size();) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(input.size() - written, 1 << 16));
    if (!WriteFile(in_write, input.data() + written, chunk, &n, nullptr)) break;
    written += n;
  }
  CloseHandle(in_write);
  out_reader.join();
  err_reader.join();
  CloseHandle(out_read);
  CloseHandle(err_read);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  run.exit_status = GetExitCodeProcess(process.hProcess, &code) ? static_cast<int>(code) : -1;
  CloseHandle(process.hProcess);
  return run;
}

}  // namespace mcp::testing

#endif  // _WIN32
