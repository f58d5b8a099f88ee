#pragma once
// The operating system's file calls that the core makes, behind small
// helpers: an owned descriptor, reading a whole file that must be a regular
// file and not too large, writing all of a text, renaming with and without
// replacing, an entry's kind and identity, and the translation of errno
// into an Io error. Every other unit of the core reaches the file system
// through these or through std::filesystem with an error_code.
//
// This is the platform seam: files.cpp holds the POSIX calls (Linux and
// macOS), files_windows.cpp the Windows ones (wide-character APIs; errors
// are translated to the errno values the POSIX side gives, so callers and
// texts are the same). Text that names a file is UTF-8 on every platform:
// build paths from it with utf8_path, never with path(std::string), which
// Windows reads in the ANSI code page.

#include "base/error.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

// The Io error for an errno value: "IO error: " + the system's description.
CoreError io_error(int error_number);

// An owned file descriptor; -1 holds nothing. The destructor closes without
// looking at the result: call close() where a failed close means lost data.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now; fails with Io when close reports an error (data that did
  // not reach the disk).
  [[nodiscard]] Result<void> close();

 private:
  int fd_ = -1;
};

// Reads all of `path`, following symbolic links, when it is a regular file
// of at most `max_bytes`. The open never blocks (a named pipe with no writer
// would hold the caller forever), and the kind is checked on the opened
// file itself, so a file swapped in between cannot slip through.
// Fails with Io: the open's own error ("No such file or directory", ...),
// "Is a directory", "not a regular file (a named pipe)" (or "a device", "a
// socket"), or "file is larger than <max_bytes in MiB> MiB".
[[nodiscard]] Result<std::string> read_regular_file(const std::filesystem::path& path, std::size_t max_bytes);

// Writes all of `text` to `fd`, going on after short writes and EINTR.
// Fails with Io.
[[nodiscard]] Result<void> write_all(int fd, std::string_view text);

// Flushes `fd`'s data and its size to disk (what a rename needs first).
[[nodiscard]] Result<void> flush_file(int fd);

// Flushes the folder `dir`, so that a rename or a new name in it is on disk.
// Fails with Io.
[[nodiscard]] Result<void> flush_folder(const std::filesystem::path& dir);

// Renames `from` to `to` unless `to` exists (an entry of any kind, a
// dangling link included): 0, or the errno (EEXIST when `to` is taken,
// EXDEV across file systems). Atomic where the file system offers it;
// elsewhere a look before the rename, which only a writer outside this
// system's write lock could race.
int rename_no_replace(const std::filesystem::path& from, const std::filesystem::path& to);

// Whether an entry of any kind exists at `path` (a dangling link counts).
bool entry_exists(const std::filesystem::path& path);

// A system call's result: the value, or the errno it failed with.
template <typename T>
using SysResult = std::expected<T, int>;

// The path that UTF-8 `text` names, and a path's UTF-8 text.
std::filesystem::path utf8_path(std::string_view text);
std::string path_utf8(const std::filesystem::path& path);

enum class EntryKind { Regular, Folder, Link, Other };

// What stat (follow) or lstat says of an entry. `device` and `inode` tell
// one file from another (Windows: volume serial and file index); `links`
// counts its names (a folder's on Linux: 2 + its subfolders).
struct FileStatus {
  EntryKind kind = EntryKind::Other;
  std::uintmax_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;  // last change of data or metadata
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  std::uintmax_t links = 0;
  unsigned mode = 0;  // the permission bits (Windows: 0444 for a read-only file, else 0666)
};
SysResult<FileStatus> file_status(const std::filesystem::path& path, bool follow);
SysResult<FileStatus> file_status(int fd);

// Creates `path`, which must not exist, for writing; `mode` before the
// umask (Windows: ignored). errno EEXIST when the name is taken.
SysResult<UniqueFd> create_new_file(const std::filesystem::path& path, unsigned mode);
// Opens an existing file for reading.
SysResult<UniqueFd> open_for_reading(const std::filesystem::path& path);
// Reads up to `size` bytes, going on after EINTR: the count, 0 at the end.
SysResult<std::size_t> read_some(int fd, char* buffer, std::size_t size);
// Gives the open file `fd` the permission bits `mode`; a failure changes nothing.
void set_mode(int fd, unsigned mode);
// Whether this process may not write the existing file `path`: no write
// bit at all (root included), or no access for this user. False for a
// missing file.
bool write_protected(const std::filesystem::path& path);

// Whether this user may make and remove entries in the folder `dir`: 0 or
// the errno (Windows: only that the folder is there; its access lists are
// left to the write itself).
int folder_writable(const std::filesystem::path& dir);

// Renames `from` over `to`, replacing a file there: 0 or the errno.
// Windows: a file another program holds open without sharing (a virus
// scanner, an indexer) is retried for up to a second.
int replace_file(const std::filesystem::path& from, const std::filesystem::path& to);
// Removes the file or link `path`: 0 or the errno.
int remove_file(const std::filesystem::path& path);
// Gives the file `existing` the second name `name`: 0 or the errno
// (EEXIST when taken; another value where the file system has no links).
int hard_link(const std::filesystem::path& existing, const std::filesystem::path& name);

// The names of the real folders in `dir` (links to folders left out), in
// listing order; reads the kinds the listing carries, without a call per
// entry.
SysResult<std::vector<std::string>> list_subfolders(const std::filesystem::path& dir);

}  // namespace core
