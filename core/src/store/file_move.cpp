#include "store/file_move.hpp"

#include "base/ids.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace core {
namespace {

namespace fs = std::filesystem;

CoreError io_error(int error) { return CoreError::io(std::generic_category().message(error)); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports what close reports; the destructor only tidies.
  int close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// Renames without replacing: renameat2's RENAME_NOREPLACE where the file
// system has it, else a look before the rename (nothing else in this
// program writes into the folders it moves to).
int rename_no_replace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(to, ec))) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

Result<void> copy_bytes(int in, int out) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    if (n == 0) return {};
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return std::unexpected(io_error(errno));
      done += w;
    }
  }
}

// Copies the regular file `from` to the new file `temp`, flushed to disk.
Result<void> copy_file_synced(const fs::path& from, const fs::path& temp) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return std::unexpected(io_error(errno));
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return std::unexpected(io_error(errno));
  Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
  if (out.get() < 0) return std::unexpected(io_error(errno));
  if (auto copied = copy_bytes(in.get(), out.get()); !copied) return copied;
  if (::fsync(out.get()) != 0 || out.close() != 0) return std::unexpected(io_error(errno));
  return {};
}

// Copies `from` to the new name `temp`: the link itself for a symbolic link.
Result<void> copy_entry(const fs::path& from, const fs::path& temp, bool is_link) {
  if (!is_link) return copy_file_synced(from, temp);
  std::error_code ec;
  fs::copy_symlink(from, temp, ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  return {};
}

}  // namespace

Result<void> copy_then_remove(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(from, ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string.
  std::string temp_name = ".";
  temp_name += to.filename().string().substr(0, 200);
  temp_name += '.';
  temp_name += new_note_id().substr(1, 10);
  temp_name += ".tmp";
  const fs::path temp = to.parent_path() / temp_name;
  if (auto copied = copy_entry(from, temp, fs::is_symlink(status)); !copied) {
    fs::remove(temp, ec);  // a leftover temporary is harmless, and there is no one to tell
    return copied;
  }
  if (int error = rename_no_replace(temp, to); error != 0) {
    fs::remove(temp, ec);
    return std::unexpected(io_error(error));
  }
  if (::unlink(from.c_str()) != 0) {
    const int error = errno;
    fs::remove(to, ec);  // `from` stays the only copy
    return std::unexpected(io_error(error));
  }
  return {};
}

Result<void> move_file(const fs::path& from, const fs::path& to) {
  const int error = rename_no_replace(from, to);
  if (error == 0) return {};
  if (error == EXDEV) return copy_then_remove(from, to);
  return std::unexpected(io_error(error));
}

}  // namespace core
