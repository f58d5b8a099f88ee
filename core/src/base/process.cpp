#include "base/process.hpp"

#ifndef _WIN32  // process_windows.cpp holds the Windows side

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <vector>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace core {

std::optional<std::string> environment_variable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::filesystem::path running_program() {
  std::error_code ec;
#ifdef __APPLE__
  std::uint32_t size = 0;
  (void)_NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) == 0) {
    std::filesystem::path self = std::filesystem::canonical(buffer.data(), ec);
    if (!ec) return self;
  }
  return "brask-tolvane-mcp";
#else
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path("brask-tolvane-mcp") : self;
#endif
}

unsigned long process_id() { return static_cast<unsigned long>(::getpid()); }

}  // namespace core

#endif  // _WIN32
