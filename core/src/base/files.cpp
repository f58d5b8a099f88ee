#include "base/files.hpp"

#include <cerrno>
#include <cstdint>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

// What every platform shares: the fault seam, the owned descriptor, the Io
// error, the temporary names, and the helpers built from the platform's calls.

namespace core {
namespace {

#ifdef BT_FILE_FAULTS
std::function<int(FileCall, const std::filesystem::path&)>& fault_hook() {
  static std::function<int(FileCall, const std::filesystem::path&)> hook;
  return hook;
}

// The errno a test wants `call` on `path` to fail with, or 0.
int injected_hook(FileCall call, const std::filesystem::path& path) {
  const auto& hook = fault_hook();
  return hook ? hook(call, path) : 0;
}
#else
constexpr int injected_hook(FileCall, const std::filesystem::path&) { return 0; }
#endif

// The descriptor's close, which Windows' C runtime names _close.
int close_descriptor(int fd) {
#ifdef _WIN32
  return ::_close(fd);
#else
  return ::close(fd);
#endif
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close_descriptor(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) close_descriptor(fd_);
}

Result<void> UniqueFd::close() {
  const int fd = std::exchange(fd_, -1);
  if (fd >= 0 && close_descriptor(fd) != 0) return std::unexpected(io_error(errno));
  return {};
}

#ifdef BT_FILE_FAULTS
void set_file_fault(std::function<int(FileCall, const std::filesystem::path&)> fault) {
  fault_hook() = std::move(fault);
}
#endif

int injected_file_fault(FileCall call, const std::filesystem::path& path) { return injected_hook(call, path); }

CoreError io_error(int error_number) { return CoreError::io(std::generic_category().message(error_number)); }

std::filesystem::path temp_path_beside(const std::filesystem::path& target, std::string_view tag) {
  constexpr std::size_t kNameKept = 200;
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string.
  std::string name = ".";
  name += path_utf8(target.filename()).substr(0, kNameKept);
  name += '.';
  name += tag;
  name += ".tmp";
  return target.parent_path() / utf8_path(name);
}

std::optional<FileStamp> file_stamp(const std::filesystem::path& path) {
  const auto st = file_status(path, true);
  if (!st) return std::nullopt;
  return FileStamp{st->size, st->modified_ns, st->changed_ns, st->device, st->inode, st->kind == EntryKind::Folder};
}

Result<bool> create_new_file(const std::filesystem::path& path, std::string_view text) {
  if (const int error = injected_file_fault(FileCall::Create, path)) return std::unexpected(io_error(error));
  auto created = create_exclusive(path, 0666);
  if (!created) {
    if (created.error() == EEXIST) return false;
    return std::unexpected(io_error(created.error()));
  }
  auto written = write_all(created->get(), text);
  if (written) written = created->close();
  if (!written) {
    std::error_code ec;
    std::filesystem::remove(path, ec);  // the half-made file goes, whatever the fault seam says
    return std::unexpected(std::move(written.error()));
  }
  return true;
}

}  // namespace core

#ifndef _WIN32  // files_windows.cpp holds the Windows side

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace core {
namespace {

std::string kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "of an unknown kind";
}

int injected(FileCall call, const std::filesystem::path& path) { return injected_file_fault(call, path); }

std::int64_t nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

FileStatus status_of(const struct stat& st) {
  FileStatus status;
  if (S_ISREG(st.st_mode)) status.kind = EntryKind::Regular;
  else if (S_ISDIR(st.st_mode)) status.kind = EntryKind::Folder;
  else if (S_ISLNK(st.st_mode)) status.kind = EntryKind::Link;
  status.size = static_cast<std::uintmax_t>(st.st_size);
#ifdef __APPLE__
  status.modified_ns = nanoseconds(st.st_mtimespec);
  status.changed_ns = nanoseconds(st.st_ctimespec);
#else
  status.modified_ns = nanoseconds(st.st_mtim);
  status.changed_ns = nanoseconds(st.st_ctim);
#endif
  status.device = static_cast<std::uintmax_t>(st.st_dev);
  status.inode = static_cast<std::uintmax_t>(st.st_ino);
  status.links = static_cast<std::uintmax_t>(st.st_nlink);
  status.mode = static_cast<unsigned>(st.st_mode & 07777);
  status.owner = static_cast<unsigned long>(st.st_uid);
  status.group = static_cast<unsigned long>(st.st_gid);
  return status;
}

struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

Result<std::string> read_regular_file(const std::filesystem::path& path, std::size_t max_bytes) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return std::unexpected(io_error(errno));
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return std::unexpected(io_error(errno));
  if (S_ISDIR(info.st_mode)) return std::unexpected(io_error(EISDIR));
  if (!S_ISREG(info.st_mode)) return std::unexpected(CoreError::io("not a regular file (" + kind_of(info.st_mode) + ")"));
  const auto too_large = [&] {
    return CoreError::io("file is larger than " + std::to_string(max_bytes >> 20) + " MiB");
  };
  if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) return std::unexpected(too_large());
  std::string text;
  text.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    if (n == 0) return text;
    // The file may grow while it is read; the bound holds all the same.
    if (text.size() + static_cast<std::size_t>(n) > max_bytes) return std::unexpected(too_large());
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

Result<void> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Result<void> flush_file(int fd) {
  if (const int error = injected(FileCall::Flush, {})) return std::unexpected(io_error(error));
#ifdef __APPLE__
  // fsync on macOS leaves the data in the drive's cache; F_FULLFSYNC asks
  // the drive to write it (file systems that refuse it get fsync).
  if (::fcntl(fd, F_FULLFSYNC) != 0 && ::fsync(fd) != 0) return std::unexpected(io_error(errno));
#else
  // The file's size belongs to its data here: fdatasync writes it too.
  if (::fdatasync(fd) != 0) return std::unexpected(io_error(errno));
#endif
  return {};
}

Result<void> flush_folder(const std::filesystem::path& dir) {
  if (const int error = injected(FileCall::FlushFolder, dir)) return std::unexpected(io_error(error));
  UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return std::unexpected(io_error(errno));
  // Some file systems refuse to flush a folder (EINVAL); their renames are
  // as durable as they can make them.
  if (::fsync(folder.get()) != 0 && errno != EINVAL) return std::unexpected(io_error(errno));
  return {};
}

int rename_no_replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Rename, to)) return error;
#ifdef __APPLE__
  if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) return 0;
#else
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
#endif
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  if (entry_exists(to)) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

Result<void> rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Rename, to)) return std::unexpected(io_error(error));
  if (::rename(from.c_str(), to.c_str()) != 0) return std::unexpected(io_error(errno));
  return {};
}

int link_file(const std::filesystem::path& existing, const std::filesystem::path& new_name) {
  if (const int error = injected(FileCall::Link, new_name)) return error;
  return ::link(existing.c_str(), new_name.c_str()) == 0 ? 0 : errno;
}

Result<void> remove_file(const std::filesystem::path& path) {
  if (const int error = injected(FileCall::Remove, path)) return std::unexpected(io_error(error));
  if (::unlink(path.c_str()) != 0) return std::unexpected(io_error(errno));
  return {};
}

bool entry_exists(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}




namespace {

Result<void> copy_into(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(io_error(errno));
    if (n == 0) return {};
    if (auto written = write_all(out, std::string_view(buffer, static_cast<std::size_t>(n))); !written) return written;
  }
}

}  // namespace

Result<void> copy_file_synced(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (const int error = injected(FileCall::Copy, to)) return std::unexpected(io_error(error));
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!in) return std::unexpected(io_error(errno));
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return std::unexpected(io_error(errno));
  if (!S_ISREG(info.st_mode)) return std::unexpected(CoreError::io("not a regular file (" + kind_of(info.st_mode) + ")"));
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
  if (!out) return std::unexpected(io_error(errno));  // nothing of this copy's is at `to`
  auto copied = [&]() -> Result<void> {
    (void)::fchmod(out.get(), info.st_mode & 07777);  // bits the umask took from the new file
    if (auto ok = copy_into(in.get(), out.get()); !ok) return ok;
    if (auto ok = flush_file(out.get()); !ok) return ok;
    return out.close();
  }();
  if (!copied) (void)::unlink(to.c_str());
  return copied;
}

std::filesystem::path utf8_path(std::string_view text) { return std::filesystem::path(text); }

std::string path_utf8(const std::filesystem::path& path) { return path.native(); }

SysResult<FileStatus> file_status(const std::filesystem::path& path, bool follow) {
  struct stat st {};
  if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return std::unexpected(errno);
  return status_of(st);
}

SysResult<FileStatus> file_status(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::unexpected(errno);
  return status_of(st);
}

SysResult<UniqueFd> create_exclusive(const std::filesystem::path& path, unsigned mode) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode)));
  if (!fd) return std::unexpected(errno);
  return fd;
}

void set_mode(int fd, unsigned mode) { (void)::fchmod(fd, static_cast<mode_t>(mode & 07777)); }

bool write_protected(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

int folder_writable(const std::filesystem::path& dir) {
  return ::access(dir.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

FolderListing list_folder(const std::filesystem::path& dir, bool (*keep_file)(std::string_view name)) {
  FolderListing found;
  std::unique_ptr<DIR, CloseDir> listing(::opendir(dir.c_str()));
  if (!listing) {
    found.error = errno;
    return found;
  }
  const int at = ::dirfd(listing.get());
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (!entry) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry->d_type == DT_REG && !keep_file(name)) continue;
    FolderEntry item{std::string(name), entry->d_type == DT_LNK, std::nullopt};
    struct stat st {};
    if (entry->d_type == DT_UNKNOWN && ::fstatat(at, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
      item.link = S_ISLNK(st.st_mode);
    if (::fstatat(at, entry->d_name, &st, 0) == 0) item.status = status_of(st);
    found.entries.push_back(std::move(item));
  }
  found.error = errno;
  return found;
}

SysResult<std::vector<std::string>> list_subfolders(const std::filesystem::path& dir) {
  std::unique_ptr<DIR, CloseDir> listing(::opendir(dir.c_str()));
  if (!listing) return std::unexpected(errno);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (!entry) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool is_dir = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      is_dir = ::lstat((dir / name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (is_dir) names.emplace_back(name);
  }
  if (errno != 0) return std::unexpected(errno);
  return names;
}

}  // namespace core

#endif  // _WIN32
