#include "config/vault_check.hpp"

#include <system_error>

namespace core {

std::optional<VaultProblem> vault_problem(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (root.native().find('\0') != std::string::npos) return VaultProblem::Missing;
  const fs::file_status status = fs::status(root, ec);
  if (ec || !fs::exists(status)) return VaultProblem::Missing;
  if (!fs::is_directory(root / ".brask-tolvane", ec)) return VaultProblem::NoMarker;
  return std::nullopt;
}

std::string vault_problem_text(VaultProblem problem, std::string_view root) {
  switch (problem) {
    case VaultProblem::Missing: return "vault path does not exist: " + std::string(root);
    case VaultProblem::NoMarker: return "not a Brask Tolvane vault (missing .brask-tolvane/): " + std::string(root);
  }
  return std::string(root);  // unreachable: every problem is handled above
}

std::string vault_problem_sentence(VaultProblem problem, std::string_view root) {
  std::string text = vault_problem_text(problem, root);
  text[0] = static_cast<char>(text[0] - 'a' + 'A');  // both texts begin with a lower-case ASCII letter
  if (problem == VaultProblem::Missing)
    text += ". Set vault arg, BRASK_TOLVANE_VAULT, mcp.json vault_path, or settings.json vault_path.";
  return text;
}

}  // namespace core
