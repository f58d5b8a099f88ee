#include "base/process.hpp"

#ifdef _WIN32  // process.cpp holds the POSIX side

#include "base/files.hpp"

#include <windows.h>

#include <vector>

namespace core {

std::optional<std::string> environment_variable(const char* name) {
  const std::wstring wide_name = std::filesystem::path(utf8_path(name)).native();
  // The C runtime's getenv gives the ANSI code page; the wide form is exact.
  const DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::vector<wchar_t> value(size);
  const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  return path_utf8(std::filesystem::path(std::wstring(value.data(), length)));
}

std::filesystem::path running_program() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "brask-tolvane-mcp";
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

unsigned long process_id() { return GetCurrentProcessId(); }

}  // namespace core

#endif  // _WIN32
