#pragma once
// Writes a generated vault's note files directly, for runs that fill the
// index without the server (--prefill): loading 100,000 notes through the
// server one call at a time takes longer than a session allows.

#include "generator.hpp"
#include "outcome.hpp"

#include <filesystem>

namespace bench {

// Writes every note of `vault` to `<root>/notes/<folder>/<id>.md` with a
// frontmatter the server reads back as the note the index holds (id, title,
// tags from the title, metas, `updated` = `updated`). Texts are written
// single-quoted, which YAML reads as plain text whatever they hold.
[[nodiscard]] Outcome<void> write_note_files(const std::filesystem::path& root, const VaultGenerator& vault,
                                             std::string_view updated);

}  // namespace bench
