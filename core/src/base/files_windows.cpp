#include "base/files.hpp"

#ifdef _WIN32  // files.cpp holds the POSIX side

#include "base/files_windows.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <system_error>
#include <vector>

// The Windows side of the file helpers. Paths go to the wide-character
// APIs; a long absolute path (over the old 260-character limit) gets the
// \\?\ prefix. Files are opened sharing read, write and delete, so that
// another program may read a note, or rename over it, while this one holds
// it. Errors become the errno values the POSIX side gives.

namespace core {
namespace {

namespace fs = std::filesystem;
using win::errno_of;
using win::Handle;
using win::wide;

// Folders are limited to 248 characters without the prefix, files to 260.
constexpr std::size_t kPrefixFrom = 240;
// A file another program holds open without sharing: tries and the pause
// between them (about a second in all).
constexpr int kShareRetries = 20;
constexpr DWORD kShareRetryMs = 50;

int last_errno() { return errno_of(GetLastError()); }

bool is_share_conflict(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Handle open_handle(const fs::path& path, DWORD access, DWORD disposition, DWORD flags) {
  return Handle(CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, disposition, flags, nullptr));
}

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A handle as a C runtime descriptor, which UniqueFd owns from then on.
SysResult<UniqueFd> as_fd(Handle& handle, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags);
  if (fd < 0) return std::unexpected(EMFILE);
  handle.release();
  return UniqueFd(fd);
}

std::int64_t nanoseconds(LARGE_INTEGER t) {
  // 100 ns ticks since 1601 to ns since 1970.
  return (t.QuadPart - 116444736000000000LL) * 100;
}

SysResult<FileStatus> status_of(HANDLE h, bool follow) {
  FileStatus status;
  const DWORD type = GetFileType(h);
  if (type != FILE_TYPE_DISK) return status;  // a device (con, nul) or a pipe
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return std::unexpected(last_errno());
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) return std::unexpected(last_errno());
  if (!follow && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) status.kind = EntryKind::Link;
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) status.kind = EntryKind::Folder;
  else status.kind = EntryKind::Regular;
  status.size = (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  status.modified_ns = nanoseconds(basic.LastWriteTime);
  status.changed_ns = nanoseconds(basic.ChangeTime);
  status.device = info.dwVolumeSerialNumber;
  status.inode = (static_cast<std::uintmax_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  status.links = info.nNumberOfLinks;
  status.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  return status;
}

// Runs `move` again while another program holds the file without sharing.
template <typename Move>
int with_share_retry(Move move) {
  for (int attempt = 1;; ++attempt) {
    if (move()) return 0;
    const DWORD error = GetLastError();
    if (!is_share_conflict(error) || attempt == kShareRetries) return errno_of(error);
    Sleep(kShareRetryMs);
  }
}

int injected(FileCall call, const fs::path& path) { return injected_file_fault(call, path); }

// FileRenameInfoEx, which MinGW's headers declare only for a later
// _WIN32_WINNT than this program targets (it checks at run time instead).
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// The NT form of a path (\??\C:\...), which a rename by handle takes.
std::wstring nt_name(const fs::path& path) {
  std::wstring name = wide(path);
  if (name.starts_with(LR"(\\?\)")) return LR"(\??\)" + name.substr(4);
  std::error_code ec;
  name = fs::absolute(path, ec).lexically_normal().native();
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  if (name.starts_with(LR"(\\)")) return LR"(\??\UNC\)" + name.substr(2);
  return LR"(\??\)" + name;
}

// Renames `from` to `to` over an existing file with POSIX semantics
// (Windows 10 1809 and later, NTFS): the name moves at once even while
// another program has the old file open sharing delete access, as a
// reader usually does; MoveFileExW would fail with access denied there.
// Flushes the file afterwards, which also writes its new name's entry on
// NTFS. False with the error in GetLastError; ERROR_INVALID_PARAMETER (or
// ERROR_NOT_SUPPORTED) where the system or file system has no such rename.
bool rename_over_by_handle(const fs::path& from, const fs::path& to) {
  Handle file = open_handle(from, DELETE | GENERIC_WRITE | SYNCHRONIZE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) return false;
  const std::wstring target = nt_name(to);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), info->FileName);
  if (!SetFileInformationByHandle(file.get(), kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size()))) return false;
  (void)FlushFileBuffers(file.get());
  return true;
}

bool no_handle_rename(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

std::string kind_of(DWORD type) {
  if (type == FILE_TYPE_PIPE) return "a named pipe";
  if (type == FILE_TYPE_CHAR) return "a device";
  return "of an unknown kind";
}

}  // namespace

namespace win {

int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY: return EBUSY;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return ENOTSUP;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    default: return EIO;
  }
}

std::wstring wide(const fs::path& path) {
  std::wstring name = path.native();
  if (name.size() < kPrefixFrom || name.starts_with(LR"(\\?\)")) return name;
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  if (ec) return name;
  name = full.lexically_normal().native();
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  if (name.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + name.substr(2);
  return LR"(\\?\)" + name;
}

}  // namespace win

std::filesystem::path utf8_path(std::string_view text) {
  // Bytes that are not UTF-8 become U+FFFD (the standard library's own
  // conversion would throw).
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide_text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide_text.data(), size);
  return fs::path(std::move(wide_text));
}

std::string path_utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

Result<std::string> read_regular_file(const std::filesystem::path& path, std::size_t max_bytes) {
  // Backup semantics let a folder open too, so that it reports itself as one.
  Handle file = open_handle(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file) return std::unexpected(io_error(last_errno()));
  const DWORD type = GetFileType(file.get());
  if (type != FILE_TYPE_DISK) return std::unexpected(CoreError::io("not a regular file (" + kind_of(type) + ")"));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return std::unexpected(io_error(last_errno()));
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::unexpected(io_error(EISDIR));
  const std::uintmax_t size = (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const auto too_large = [&] {
    return CoreError::io("file is larger than " + std::to_string(max_bytes >> 20) + " MiB");
  };
  if (size > max_bytes) return std::unexpected(too_large());
  std::string text;
  text.reserve(static_cast<std::size_t>(size));
  char buffer[1 << 16];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) return std::unexpected(io_error(last_errno()));
    if (n == 0) return text;
    if (text.size() + n > max_bytes) return std::unexpected(too_large());
    text.append(buffer, n);
  }
}

Result<void> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(text.size(), INT_MAX));
    const int n = ::_write(fd, text.data(), chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Result<void> flush_file(int fd) {
  if (const int error = injected(FileCall::Flush, {})) return std::unexpected(io_error(error));
  if (!FlushFileBuffers(handle_of(fd))) return std::unexpected(io_error(last_errno()));
  return {};
}

Result<void> flush_folder(const std::filesystem::path& dir) {
  if (const int error = injected(FileCall::FlushFolder, dir)) return std::unexpected(io_error(error));
  // Windows cannot flush a folder; the renames that need it are made with
  // MOVEFILE_WRITE_THROUGH instead. What is left is the check that the
  // folder is there, as on POSIX.
  const DWORD attributes = GetFileAttributesW(wide(dir).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::unexpected(io_error(last_errno()));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::unexpected(io_error(ENOTDIR));
  return {};
}

int rename_no_replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Rename, to)) return error;
  const std::wstring source = wide(from), target = wide(to);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists, in
  // one step; without MOVEFILE_COPY_ALLOWED it fails across volumes (EXDEV).
  return with_share_retry([&] { return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH); });
}

bool entry_exists(const std::filesystem::path& path) {
  return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

SysResult<FileStatus> file_status(const std::filesystem::path& path, bool follow) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  Handle h = open_handle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, flags);
  if (!h) return std::unexpected(last_errno());
  return status_of(h.get(), follow);
}

SysResult<FileStatus> file_status(int fd) { return status_of(handle_of(fd), true); }

SysResult<UniqueFd> create_exclusive(const std::filesystem::path& path, unsigned /*mode*/) {
  Handle h = open_handle(path, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (!h) return std::unexpected(last_errno());
  return as_fd(h, _O_BINARY);
}

void set_mode(int /*fd*/, unsigned /*mode*/) {
  // A new file takes the folder's permissions; the read-only attribute, the
  // only mode Windows keeps, is never set on a file this program replaces.
}

bool write_protected(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

int folder_writable(const std::filesystem::path& dir) {
  const DWORD attributes = GetFileAttributesW(wide(dir).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_errno();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ENOTDIR;
}

Result<void> rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Rename, to)) return std::unexpected(io_error(error));
  const std::wstring source = wide(from), target = wide(to);
  const int error = with_share_retry([&] {
    if (rename_over_by_handle(from, to)) return TRUE;
    if (!no_handle_rename(GetLastError())) return FALSE;
    return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  });
  if (error != 0) return std::unexpected(io_error(error));
  return {};
}

Result<void> remove_file(const std::filesystem::path& path) {
  if (const int error = injected(FileCall::Remove, path)) return std::unexpected(io_error(error));
  const std::wstring name = wide(path);
  if (const int error = with_share_retry([&] { return DeleteFileW(name.c_str()); }); error != 0)
    return std::unexpected(io_error(error));
  return {};
}

int link_file(const std::filesystem::path& existing, const std::filesystem::path& new_name) {
  if (const int error = injected(FileCall::Link, new_name)) return error;
  return CreateHardLinkW(wide(new_name).c_str(), wide(existing).c_str(), nullptr) ? 0 : last_errno();
}

Result<void> copy_file_synced(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Copy, to)) return std::unexpected(io_error(error));
  Handle in = open_handle(from, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!in) return std::unexpected(io_error(last_errno()));
  if (const DWORD type = GetFileType(in.get()); type != FILE_TYPE_DISK)
    return std::unexpected(CoreError::io("not a regular file (" + kind_of(type) + ")"));
  auto out = create_exclusive(to, 0666);
  if (!out) return std::unexpected(io_error(out.error()));  // nothing of this copy's is at `to`
  auto copied = [&]() -> Result<void> {
    char buffer[1 << 16];
    for (;;) {
      DWORD n = 0;
      if (!ReadFile(in.get(), buffer, sizeof buffer, &n, nullptr)) return std::unexpected(io_error(last_errno()));
      if (n == 0) break;
      if (auto written = write_all(out->get(), std::string_view(buffer, n)); !written) return written;
    }
    if (auto ok = flush_file(out->get()); !ok) return ok;
    return out->close();
  }();
  if (!copied) {
    std::error_code ec;
    fs::remove(to, ec);
  }
  return copied;
}

FolderListing list_folder(const std::filesystem::path& dir, bool (*keep_file)(std::string_view name)) {
  FolderListing found;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = path_utf8(it->path().filename());
    std::error_code kind_ec;
    const bool link = it->is_symlink(kind_ec);
    if (!link && it->is_regular_file(kind_ec) && !keep_file(name)) continue;
    FolderEntry item{std::move(name), link, std::nullopt};
    if (auto status = file_status(it->path(), true)) item.status = *status;
    found.entries.push_back(std::move(item));
  }
  if (ec) found.error = ec.default_error_condition().value();
  return found;
}

SysResult<std::vector<std::string>> list_subfolders(const std::filesystem::path& dir) {
  WIN32_FIND_DATAW entry{};
  const std::wstring pattern = wide(dir / L"*");
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                 FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return std::vector<std::string>{};
    return std::unexpected(errno_of(error));
  }
  std::vector<std::string> names;
  do {
    const std::wstring_view name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      names.push_back(path_utf8(fs::path(name)));
  } while (FindNextFileW(find, &entry));
  const DWORD error = GetLastError();
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) return std::unexpected(errno_of(error));
  return names;
}

}  // namespace core

#endif  // _WIN32
