// The note-file reader: frontmatter (YAML) and body, then the writer on what
// was read.
//
// Checked beyond "no crash": a note that reads renders, unless the emitter
// refuses a value, to a text that reads again.

#include "note/note_file.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto note = core::parse_note_file(text, "fuzz/note.md");
  if (!note) return 0;
  auto rendered = core::render_note_file(*note);
  if (!rendered) return 0;
  if (!core::parse_note_file(*rendered, "fuzz/note.md")) std::abort();
  return 0;
}
