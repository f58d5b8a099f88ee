#pragma once
// The vaults the server keeps open from one tool call to the next, so that
// a call does not pay for opening, configuring and closing the index (and
// for the checkpoint a close makes) every time. Keeping them open changes
// nothing a client or another program can see: the dispatcher still checks
// the vault afresh on every call before it asks for the vault here, every
// write commits before its call answers, and a kept connection is used only
// while `index.db` is still the file it has open.

#include "base/error.hpp"
#include "base/files.hpp"
#include "index/index_db.hpp"
#include "sync/follow.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <optional>
#include <string>

namespace mcp {

class OpenVaults {
 public:
  // How many vaults stay open at most by default.
  static constexpr std::size_t kKeptVaults = 4;

  explicit OpenVaults(std::size_t capacity = kKeptVaults) : capacity_(capacity) {}
  OpenVaults(const OpenVaults&) = delete;
  OpenVaults& operator=(const OpenVaults&) = delete;
  // Closes every kept vault, each after a checkpoint that empties its log
  // unless another program is reading it (core::checkpoint_before_close).
  ~OpenVaults();

  // The open vault at `root` (spelled as the call resolved it): the one
  // kept from an earlier call while `index.db` below it is still the same
  // file (same device and inode, and same owner and permissions, which
  // decide whether it may be written), else one opened afresh with
  // core::open_vault, which then is kept and, when more than the capacity
  // are kept, closes the one used least recently. A vault kept for a file
  // that is gone or replaced is closed before the new one opens, so its
  // close never touches the new file's log. Fails as open_vault fails; a
  // failure keeps nothing for `root`. The vault lives until the next call
  // of `open` or `end_call`.
  [[nodiscard]] core::Result<core::Vault*> open(const std::filesystem::path& root);

  // The call that used the vaults is over: a vault whose connection still
  // holds a transaction or a read snapshot (a call that stopped half way)
  // is closed rather than kept, so it holds no lock between calls.
  void end_call();

  // Takes in what other programs changed in the note files of `vault` (one
  // that `open` gave in this call) since the last call that did, through
  // the vault's own follower, which lives as long as the vault is kept.
  core::FollowStep follow_files(core::Vault& vault);

  std::size_t size() const { return kept_.size(); }

 private:
  // What decides whether a kept connection still serves `index.db`. While
  // the connection is open its file cannot be freed, so a new file at the
  // same path never has the same device and inode.
  struct FileIdentity {
    std::uintmax_t device;
    std::uintmax_t inode;
    core::EntryKind kind;
    unsigned mode;
    unsigned long owner;
    unsigned long group;
    bool operator==(const FileIdentity&) const = default;
  };
  struct Kept {
    std::string root;                      // the root's bytes, as given
    std::optional<FileIdentity> index;     // none: never matches, opened afresh next time
    std::optional<core::Vault> vault;
    std::optional<core::VaultFollower> follower;  // made by the first call that follows the files
  };

  static std::optional<FileIdentity> identity_of(const std::filesystem::path& file);
  static void close(Kept& kept);

  std::size_t capacity_;
  std::list<Kept> kept_;  // most recently used first
};

}  // namespace mcp
