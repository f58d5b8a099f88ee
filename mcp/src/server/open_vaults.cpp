#include "server/open_vaults.hpp"

#include "index/sqlite.hpp"

#include <algorithm>
#include <utility>

namespace mcp {

OpenVaults::~OpenVaults() {
  for (Kept& kept : kept_) close(kept);
}

std::optional<OpenVaults::FileIdentity> OpenVaults::identity_of(const std::filesystem::path& file) {
  const auto info = core::file_status(file, true);
  if (!info) return std::nullopt;
  return FileIdentity{info->device, info->inode, info->kind, info->mode, info->owner, info->group};
}

void OpenVaults::close(Kept& kept) {
  if (kept.vault) core::checkpoint_before_close(kept.vault->db());
  kept.vault.reset();
}

core::Result<core::Vault*> OpenVaults::open(const std::filesystem::path& root) {
  const std::filesystem::path index = root / ".brask-tolvane" / "index.db";
  const std::optional<FileIdentity> before = identity_of(index);
  auto found = std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.root == core::path_utf8(root); });
  if (found != kept_.end()) {
    if (before && found->index == before) {
      kept_.splice(kept_.begin(), kept_, found);
      return &*kept_.front().vault;
    }
    close(*found);
    kept_.erase(found);
  }
  auto vault = core::open_vault(root);
  if (!vault) return std::unexpected(std::move(vault.error()));
  // A file that changed while it was being opened may not be the one the
  // connection holds: then nothing is known, and the next call opens afresh.
  std::optional<FileIdentity> after = identity_of(index);
  if (before && before != after) after.reset();
  kept_.push_front(Kept{core::path_utf8(root), after, std::move(*vault)});
  while (kept_.size() > std::max<std::size_t>(capacity_, 1)) {
    close(kept_.back());
    kept_.pop_back();
  }
  return &*kept_.front().vault;
}

core::FollowStep OpenVaults::follow_files(core::Vault& vault) {
  auto kept = std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.vault && &*k.vault == &vault; });
  if (kept == kept_.end()) return core::VaultFollower().follow(vault);
  if (!kept->follower) kept->follower.emplace();
  return kept->follower->follow(vault);
}

void OpenVaults::end_call() {
  for (auto it = kept_.begin(); it != kept_.end();) {
    if (core::is_idle(it->vault->db())) {
      ++it;
      continue;
    }
    it->vault.reset();  // closing rolls back what is open
    it = kept_.erase(it);
  }
}

}  // namespace mcp
