#pragma once
// Windows only: what the Windows units of base share with the file helpers'
// Windows side (files_windows.cpp): an owned HANDLE, the name the
// wide-character APIs are given for a path, and the errno value a Windows
// error stands for, so that texts read the same on every platform.

#ifdef _WIN32

#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>

namespace core::win {

// An owned handle; INVALID_HANDLE_VALUE holds nothing.
class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE h_;
};

// The name the wide-character APIs are given for `path`: a long absolute
// path (over the old 260-character limit) gets the \\?\ prefix.
std::wstring wide(const std::filesystem::path& path);

// The errno value the POSIX side gives where Windows gives `error`.
int errno_of(DWORD error);

}  // namespace core::win

#endif  // _WIN32
