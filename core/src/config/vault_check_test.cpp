#include "config/vault_check.hpp"

#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace core {
namespace {

namespace fs = std::filesystem;

TEST(VaultCheck, NamesWhatStandsAgainstARoot) {
  BT_REQUIRE_LINKS();
  testing::TempVault vault;
  testing::TempDir dir;
  std::ofstream(dir.path() / "file") << "x";
  fs::create_directories(dir.path() / "marked-by-file");
  std::ofstream(dir.path() / "marked-by-file" / ".brask-tolvane") << "x";
  fs::create_directory_symlink(vault.root(), dir.path() / "linked-vault");
  fs::create_directory_symlink(dir.path() / "gone", dir.path() / "dangling");

  struct Case { fs::path root; std::optional<VaultProblem> want; };
  for (const Case& c : {Case{vault.root(), std::nullopt}, Case{dir.path() / "linked-vault", std::nullopt},
                        Case{dir.path() / "absent", VaultProblem::Missing}, Case{dir.path() / "dangling", VaultProblem::Missing},
                        Case{std::string(vault.root().string() + std::string("\0x", 2)), VaultProblem::Missing},
                        Case{dir.path(), VaultProblem::NoMarker}, Case{dir.path() / "file", VaultProblem::NoMarker},
                        Case{dir.path() / "marked-by-file", VaultProblem::NoMarker}})
    EXPECT_EQ(vault_problem(c.root), c.want) << c.root;
}

TEST(VaultCheck, OneTextForEachProblemInBothVoices) {
  EXPECT_EQ(vault_problem_text(VaultProblem::Missing, "/v"), "vault path does not exist: /v");
  EXPECT_EQ(vault_problem_text(VaultProblem::NoMarker, "/v"), "not a Brask Tolvane vault (missing .brask-tolvane/): /v");
  EXPECT_EQ(vault_problem_sentence(VaultProblem::Missing, "/v"),
            "Vault path does not exist: /v. Set vault arg, BRASK_TOLVANE_VAULT, mcp.json vault_path, or settings.json "
            "vault_path.");
  EXPECT_EQ(vault_problem_sentence(VaultProblem::NoMarker, "/v"), "Not a Brask Tolvane vault (missing .brask-tolvane/): /v");
}

}  // namespace
}  // namespace core
