#pragma once
// The operating system's file calls that the core makes, behind small
// helpers: an owned descriptor, reading a whole file that must be a regular
// file and not too large, writing all of a text, renaming without
// replacing, and the translation of errno into an Io error. Every other
// unit of the core reaches the file system through these or through
// std::filesystem with an error_code.

#include "base/error.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
