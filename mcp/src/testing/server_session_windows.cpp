#include "testing/server_session.hpp"

#ifdef _WIN32  // server_session.cpp holds the POSIX side

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <utility>

namespace mcp::testing {
namespace {

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

}  // namespace

// The child gets only its own ends of the pipes: they are made inheritable
// just for the start (run_server starts children the same way).
ServerSession::ServerSession(const std::string& binary, const std::map<std::string, std::string>& env,
                             const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  HANDLE in_read, in_write, out_read, out_write;
  if (!CreatePipe(&in_read, &in_write, &plain, 0)) return;
  if (!CreatePipe(&out_read, &out_write, &plain, 0)) {
    CloseHandle(in_read), CloseHandle(in_write);
    return;
  }
  std::map<std::string, std::string> vars = env;
  if (!vars.contains("SystemRoot"))
    if (const char* root = std::getenv("SystemRoot")) vars["SystemRoot"] = root;
  std::wstring block;
  for (const auto& [key, value] : vars) block += wide(key) + L"=" + wide(value) + L'\0';
  block += L'\0';
  std::wstring line = L"\"" + wide(binary) + L"\"";
  for (const std::string& arg : args) line += L" \"" + wide(arg) + L"\"";  // the tests' arguments hold no quote
  SetHandleInformation(in_read, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(out_write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr, &startup,
                                      &process);
  CloseHandle(in_read);
  CloseHandle(out_write);
  if (!started) {
    CloseHandle(in_write), CloseHandle(out_read);
    return;
  }
  CloseHandle(process.hThread);
  process_ = process.hProcess;
  pid_ = static_cast<pid_t>(process.dwProcessId);
  to_ = _open_osfhandle(reinterpret_cast<intptr_t>(in_write), _O_BINARY);
  from_ = _open_osfhandle(reinterpret_cast<intptr_t>(out_read), _O_BINARY | _O_RDONLY);
}

ServerSession::~ServerSession() { (void)finish(); }

std::string ServerSession::ask(const std::string& line) {
  const std::string text = line + "\n";
  for (size_t done = 0; to_ >= 0 && done < text.size();) {
    const int n = _write(to_, text.data() + done, static_cast<unsigned>(text.size() - done));
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
    const int n = from_ >= 0 ? _read(from_, buffer, sizeof buffer) : 0;
    if (n <= 0) return "";
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

int ServerSession::finish() {
  if (!process_) return -1;
  if (to_ >= 0) _close(to_), to_ = -1;
  char buffer[4096];
  while (from_ >= 0 && _read(from_, buffer, sizeof buffer) > 0) {
  }
  if (from_ >= 0) _close(from_), from_ = -1;
  HANDLE process = std::exchange(process_, nullptr);
  pid_ = -1;
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  const BOOL got = GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return got ? static_cast<int>(code) : -1;
}

}  // namespace mcp::testing

#endif  // _WIN32
