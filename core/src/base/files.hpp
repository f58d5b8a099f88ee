#pragma once
// The operating system's file calls that the core makes, behind small
// helpers: an owned descriptor, reading a whole file that must be a regular
// file and not too large, writing all of a text, renaming with and without
// replacing, an entry's kind and identity, and the translation of errno
// into an Io error. Every other unit of the core reaches the file system
// through these or through std::filesystem with an error_code.
//
// This is the platform seam: files.cpp holds the POSIX calls (Linux and
// macOS) and what every platform shares, files_windows.cpp the Windows
// calls (wide-character APIs; errors are translated to the errno values
// the POSIX side gives, so callers and texts are the same). Text that names
// a file is UTF-8 on every platform: build paths from it with utf8_path,
// never with path(std::string), which Windows reads in the ANSI code page.

#include "base/error.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

// The calls below that a test may make fail, to see that a change that
// fails at any step loses nothing and leaves nothing behind.
enum class FileCall { Flush, FlushFolder, Rename, Link, Remove, Copy, Create };

#ifdef BT_FILE_FAULTS
// Test builds only: `fault` is asked before each such call with the path it
// acts on (for a rename or a link, the new name) and returns the errno the
// call then fails with, or 0 to let it run. An empty function: no faults.
void set_file_fault(std::function<int(FileCall, const std::filesystem::path&)> fault);
#endif
// The errno the fault seam wants `call` on `path` to fail with, or 0 (always
// 0 outside test builds). For the helpers here, on every platform.
int injected_file_fault(FileCall call, const std::filesystem::path& path);

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

// Renames `from` over `to`, replacing what is there. Fails with Io.
[[nodiscard]] Result<void> rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes `new_name` a second name of the file `existing`: 0, or the errno
// (EEXIST when the name is taken, EPERM or EXDEV where the file system has
// no hard links or the names lie on two).
int link_file(const std::filesystem::path& existing, const std::filesystem::path& new_name);

// Removes the file or link `path` (never a folder). Fails with Io.
[[nodiscard]] Result<void> remove_file(const std::filesystem::path& path);

// Whether an entry of any kind exists at `path` (a dangling link counts).
bool entry_exists(const std::filesystem::path& path);

// A system call's result: the value, or the errno it failed with.
template <typename T>
using SysResult = std::expected<T, int>;

// The path that UTF-8 `text` names (bytes that are not UTF-8 become U+FFFD
// where names are UTF-16), and a path's UTF-8 text.
std::filesystem::path utf8_path(std::string_view text);
std::string path_utf8(const std::filesystem::path& path);

enum class EntryKind { Regular, Folder, Link, Other };

// What stat (follow) or lstat says of an entry. `device` and `inode` tell
// one file from another (Windows: volume serial and file index); `links`
// counts its names (a folder's on Linux: 2 + its subfolders; on Windows 1).
struct FileStatus {
  EntryKind kind = EntryKind::Other;
  std::uintmax_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;  // last change of data or metadata
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  std::uintmax_t links = 0;
  unsigned mode = 0;  // the permission bits (Windows: 0444 for a read-only file, else 0666)
  unsigned long owner = 0;  // user and group ids (Windows: 0)
  unsigned long group = 0;
};
SysResult<FileStatus> file_status(const std::filesystem::path& path, bool follow);
SysResult<FileStatus> file_status(int fd);

// Creates `path`, which must not exist, open for writing; `mode` before
// the umask (Windows: ignored). errno EEXIST when the name is taken.
SysResult<UniqueFd> create_exclusive(const std::filesystem::path& path, unsigned mode);
// Gives the open file `fd` the permission bits `mode`; a failure changes
// nothing (Windows: nothing to give, see files_windows.cpp).
void set_mode(int fd, unsigned mode);
// Whether this process may not write the existing file `path`: no write
// bit at all (root included), or no access for this user (Windows: the
// read-only attribute). False for a missing file.
bool write_protected(const std::filesystem::path& path);
// Whether this user may make and remove entries in the folder `dir`: 0 or
// the errno (Windows: only that the folder is there; its access lists are
// left to the write itself).
int folder_writable(const std::filesystem::path& dir);

// The names of the real folders in `dir` (links to folders left out), in
// listing order; reads the kinds the listing carries, without a call per
// entry. UTF-8.
SysResult<std::vector<std::string>> list_subfolders(const std::filesystem::path& dir);

// One entry of list_folder: its name (the file system's bytes; Windows:
// UTF-8), whether the entry itself is a symbolic link, and the status of
// what it leads to (through a link); none when that cannot be read (a link
// that leads nowhere).
struct FolderEntry {
  std::string name;
  bool link = false;
  std::optional<FileStatus> status;
};

// What list_folder found, and why it stopped early, if it did (an errno:
// then what the folder holds beyond `entries` is unknown).
struct FolderListing {
  std::vector<FolderEntry> entries;
  int error = 0;
};

// The entries of `dir`, in listing order, each with its status, except the
// regular files whose name `keep_file` refuses, which are left out unread
// where the listing tells their kind. Each status is read relative to the
// open folder, so a large folder costs one short lookup per entry.
FolderListing list_folder(const std::filesystem::path& dir, bool (*keep_file)(std::string_view name));

// What a file was when it was read: a write to it, or another file put in
// its place, changes one of these (the change time moves on every write,
// also on one that keeps the size and lands within the same clock tick of
// the modification time).
struct FileStamp {
  std::uintmax_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  bool folder = false;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file `path` leads to (through links); nullopt when it
// cannot be read.
std::optional<FileStamp> file_stamp(const std::filesystem::path& path);

// A temporary name beside `target`: "." + its file name (cut to 200 bytes,
// so the name stays within the file system's 255) + "." + `tag` + ".tmp".
// Leading with "." keeps it out of folder listings and of the notes walk
// (it does not end in ".md").
std::filesystem::path temp_path_beside(const std::filesystem::path& target, std::string_view tag);

// Creates `path`, which must not exist, holding `text`. False when the name
// is taken; fails with Io otherwise, leaving no file.
[[nodiscard]] Result<bool> create_new_file(const std::filesystem::path& path, std::string_view text);

// Copies the regular file `from` to `to`, which must not exist, with its
// permission bits, and flushes the copy to disk. Fails with Io; a partial
// `to` is then removed.
[[nodiscard]] Result<void> copy_file_synced(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace core
