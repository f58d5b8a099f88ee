#include "note/note_file.hpp"

#include "note/frontmatter.hpp"
#include "base/ids.hpp"
#include "base/text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace core {
namespace {

constexpr std::string_view kDelimiter = "---";

std::unexpected<CoreError> io_error(int error_number) {
  return std::unexpected(CoreError::io(std::generic_category().message(error_number)));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);  // only read-only files are closed here, so close cannot lose data
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr std::size_t kTempNameKept = 200;  // bytes of the target's name in a temporary's name
constexpr std::size_t kTempTag = 10;        // characters of [0-9a-z] after it
constexpr int kTempSlots = 4;               // temporary names per note

// The temporary names of `target`: "." + its name (cut to 200 bytes) + "."
// + 10 characters of [0-9a-z] + ".tmp". The characters are drawn from the
// name and the slot number, not at random, so that a save finds what an
// earlier save of the same note, killed half-way, left behind by trying a
// few names rather than listing a folder that may hold 100,000 notes (a
// listing costs over 100 ms there). Saves through the note store hold the
// index's write lock, so one slot is all they normally use.
std::filesystem::path temp_path(const std::filesystem::path& target, int slot) {
  const std::string name = target.filename().string().substr(0, kTempNameKept);
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the name, a NUL and the slot
  for (const char c : name + '\0' + std::to_string(slot)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string tag(kTempTag, '0');
  for (std::size_t i = kTempTag; i-- > 0; hash /= 36) tag[i] = kDigits[hash % 36];
  return target.parent_path() / ("." + name + "." + tag + ".tmp");
}

// Removes the temporaries of `target` that a save killed half-way left
// beside it (a 200 MB note leaves 200 MB). Under the note store's write
// lock none of them is another save's live file; a save made outside the
// store at the same moment would fail cleanly, its temporary gone before
// its rename. Only regular files are removed, and failures are left for a
// later save.
void remove_leftover_temps(const std::filesystem::path& target) {
  for (int slot = 0; slot < kTempSlots; ++slot) {
    const std::filesystem::path path = temp_path(target, slot);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) (void)::unlink(path.c_str());
  }
}

// A file beside the target that becomes the target on commit() and is
// removed otherwise. Its name starts with "." and does not end in ".md", so
// listings of notes never take it for a note.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());  // a leftover is harmless; there is no one to tell
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  [[nodiscard]] Result<void> open_beside(const std::filesystem::path& target) {
    // The name keeps within the usual 255-byte limit; a slot taken by a
    // writer outside the note store's lock makes the next one be tried.
    for (int slot = 0;; ++slot) {
      std::filesystem::path candidate = temp_path(target, slot);
      // 0666 lets the umask decide, as for any newly created file.
      fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        path_ = std::move(candidate);
        return {};
      }
      if (errno != EEXIST || slot + 1 == kTempSlots) return io_error(errno);
    }
  }

  [[nodiscard]] Result<void> write_all(std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return io_error(errno);
      text.remove_prefix(static_cast<size_t>(n));
    }
    return {};
  }

  // Gives the file the permissions of the file it replaces.
  void keep_mode_of(const std::filesystem::path& target) const {
    struct stat existing {};
    // A new note has no previous mode to keep; a failed chmod leaves the
    // default mode, which still lets the owner read and write the note.
    if (::stat(target.c_str(), &existing) == 0) (void)::fchmod(fd_, existing.st_mode & 07777);
  }

  // Flushes to disk before the rename, so that a crash cannot leave the
  // renamed file without its contents.
  [[nodiscard]] Result<void> commit(const std::filesystem::path& target) {
    if (::fsync(fd_) != 0) return io_error(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return io_error(errno);
    if (::rename(path_.c_str(), target.c_str()) != 0) return io_error(errno);
    path_.clear();
    return {};
  }

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

Result<std::string> read_whole_file(const std::filesystem::path& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return io_error(errno);
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return io_error(errno);
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

// Renaming over a symbolic link would replace the link with a plain file
// and leave the file it points to stale, so the link's target is written.
std::filesystem::path write_target(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  return ec ? path : resolved;  // a dangling link is replaced, as a missing file would be created
}

// A person who took every write bit off a note meant it to stay as it is.
// Root may write any file, so access() alone would let a server run as root
// replace it; the mode bits are read first for that reason. access() then
// covers the files of other users that this process may not write. Renaming
// a temporary over the file would bypass both, as only the folder's
// permissions govern a rename.
Result<void> check_may_replace(const std::filesystem::path& target) {
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0) return {};  // a missing file is created; other failures show at the write
  if ((info.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) return io_error(EACCES);
  return {};
}

std::size_t count_line_feeds(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

NoteFrontmatter default_frontmatter() {
  NoteFrontmatter frontmatter;
  frontmatter.id = new_note_id();
  frontmatter.title = "Untitled";
  frontmatter.created_at = now_timestamp();
  frontmatter.updated = now_timestamp();
  return frontmatter;
}

Result<Note> parse_note_file(std::string_view text, std::filesystem::path path) {
  Note note;
  note.path = std::move(path);
  const std::string_view start = trim_start(text);
  if (!start.starts_with(kDelimiter)) {
    note.frontmatter = default_frontmatter();
    note.body = text;
  } else {
    const std::string_view rest = start.substr(kDelimiter.size());
    const std::size_t close = rest.find("\n---");
    if (close == std::string_view::npos) return std::unexpected(CoreError::message("unclosed frontmatter"));
    // The line feed before the closing "---" ends the last YAML line; without
    // it a block text at the end of the frontmatter would lose its own.
    const std::string_view yaml = rest.substr(0, close + 1);
    std::string_view body = rest.substr(close + 1 + kDelimiter.size());
    if (body.starts_with('\n')) body.remove_prefix(1);
    note.body = body;
    if (trim(yaml).empty()) {
      note.frontmatter = default_frontmatter();
    } else {
      const std::size_t first_line = 1 + count_line_feeds(text.substr(0, text.size() - start.size()));
      auto frontmatter = read_frontmatter(yaml, first_line);
      if (!frontmatter) return std::unexpected(std::move(frontmatter.error()));
      note.frontmatter = std::move(*frontmatter);
    }
  }
  if (note.frontmatter.tags.empty()) note.frontmatter.tags = extract_hashtags(note.frontmatter.title);
  return note;
}

Result<std::string> render_note_file(const Note& note) {
  Result<std::string> yaml;
  if (note.frontmatter.tags.empty()) {
    NoteFrontmatter with_tags = note.frontmatter;
    with_tags.tags = extract_hashtags(with_tags.title);
    yaml = write_frontmatter(with_tags);
  } else {
    yaml = write_frontmatter(note.frontmatter);
  }
  if (!yaml) return yaml;
  std::string text;
  text.reserve(2 * (kDelimiter.size() + 1) + yaml->size() + note.body.size());
  text.append(kDelimiter).append("\n").append(*yaml).append(kDelimiter).append("\n").append(note.body);
  return text;
}

// Whether parse_note_file would take the frontmatter from `text` rather than
// make one up: a "---" block that is closed and not blank.
bool has_frontmatter_block(std::string_view text) {
  const std::string_view start = trim_start(text);
  if (!start.starts_with(kDelimiter)) return false;
  const std::string_view rest = start.substr(kDelimiter.size());
  const std::size_t close = rest.find("\n---");
  return close != std::string_view::npos && !trim(rest.substr(0, close + 1)).empty();
}

Result<NoteFileRead> read_note_file_checked(const std::filesystem::path& path) {
  auto text = read_whole_file(path);
  if (!text) return std::unexpected(std::move(text.error()));
  if (!is_valid_utf8(*text)) return std::unexpected(CoreError::io("data is not valid UTF-8"));
  auto note = parse_note_file(*text, path);
  if (!note) return std::unexpected(std::move(note.error()));
  return NoteFileRead{std::move(*note), has_frontmatter_block(*text)};
}

Result<Note> read_note_file(const std::filesystem::path& path) {
  auto text = read_whole_file(path);
  if (!text) return std::unexpected(std::move(text.error()));
  if (!is_valid_utf8(*text)) return std::unexpected(CoreError::io("data is not valid UTF-8"));
  return parse_note_file(*text, path);
}

Result<void> check_note_file_writable(const std::filesystem::path& path) {
  return check_may_replace(write_target(path));
}

Result<void> write_note_file(const Note& note) {
  if (note.path.empty()) return std::unexpected(CoreError::message("note path not set"));
  auto text = render_note_file(note);
  if (!text) return std::unexpected(std::move(text.error()));
  const std::filesystem::path target = write_target(note.path);
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  if (ec) return std::unexpected(CoreError::io(ec.message()));
  if (auto ok = check_may_replace(target); !ok) return ok;
  remove_leftover_temps(target);
  TempFile temp;
  if (auto ok = temp.open_beside(target); !ok) return ok;
  if (auto ok = temp.write_all(*text); !ok) return ok;
  temp.keep_mode_of(target);
  return temp.commit(target);
}

}  // namespace core
