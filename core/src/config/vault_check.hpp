#pragma once
// Whether a chosen vault root is a vault: the one check the server makes
// before it opens a vault for a tool call, and the owner's commands before
// they touch one, with one text for each way it fails.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace core {

enum class VaultProblem {
  Missing,   // nothing is there (the path's metadata cannot be read, links followed)
  NoMarker,  // `.brask-tolvane` in it is not a directory (missing, or a file)
};

// What stands against `root` being used as a vault, or nullopt when it is
// one. A root holding a NUL byte is Missing: the system would cut the path
// there and look at another one.
std::optional<VaultProblem> vault_problem(const std::filesystem::path& root);

// The text of `problem` for `root` (shown as given), as a command says it
// after its name: "vault path does not exist: <root>" or "not a Brask
// Tolvane vault (missing .brask-tolvane/): <root>". The server says the same
// beginning with a capital letter, and adds to the first how a vault is
// chosen (vault_problem_sentence).
std::string vault_problem_text(VaultProblem problem, std::string_view root);

// The server's text: vault_problem_text with its first letter in upper
// case, Missing followed by ". Set vault arg, BRASK_TOLVANE_VAULT, mcp.json
// vault_path, or settings.json vault_path."
std::string vault_problem_sentence(VaultProblem problem, std::string_view root);

}  // namespace core
