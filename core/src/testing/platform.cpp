#include "testing/platform.hpp"

#include "base/files.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace core::testing {

#ifdef _WIN32

void set_env(const std::string& name, const std::optional<std::string>& value) {
  const std::wstring wide_name = utf8_path(name).native();
  const std::wstring wide_value = value ? utf8_path(*value).native() : std::wstring();
  // The C runtime keeps a copy of its own, which "" removes from; the
  // process's own table is set last, so that it ends as asked.
  _wputenv_s(wide_name.c_str(), value ? wide_value.c_str() : L"");
  SetEnvironmentVariableW(wide_name.c_str(), value ? wide_value.c_str() : nullptr);
}

void make_named_pipe(const std::filesystem::path&) {}

bool links_supported() {
  static const bool supported = [] {
    std::error_code ec;
    const std::filesystem::path probe =
        std::filesystem::temp_directory_path(ec) / ("bt-link-probe-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_symlink("nowhere", probe, ec);
    const bool made = !ec;
    std::filesystem::remove(probe, ec);
    return made;
  }();
  return supported;
}

void set_modified_time(const std::filesystem::path& path, std::time_t when) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  const unsigned long long ticks = (static_cast<unsigned long long>(when) + 11644473600ULL) * 10000000ULL;
  FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  const BOOL ok = SetFileTime(h, nullptr, &time, &time);
  CloseHandle(h);
  ASSERT_TRUE(ok) << path;
}

#else

void set_env(const std::string& name, const std::optional<std::string>& value) {
  if (value) setenv(name.c_str(), value->c_str(), 1);
  else unsetenv(name.c_str());
}

void make_named_pipe(const std::filesystem::path& path) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << path;
}

bool links_supported() { return true; }

void set_modified_time(const std::filesystem::path& path, std::time_t when) {
  timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

#endif

}  // namespace core::testing
