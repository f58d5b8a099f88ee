#include "commands/shown_path.hpp"

#include "base/files.hpp"
#include "base/text.hpp"

namespace mcp {
namespace {

// The length of the UTF-8 sequence that `lead` opens, or 0 for a byte that
// opens none.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void append_hex(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

std::string shown(std::string_view text, bool escape_backslash) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\' && escape_backslash) {
      out += "\\\\";
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) {
      append_hex(out, byte);
      ++i;
      continue;
    }
    const std::size_t length = sequence_length(byte);
    // Well-formedness (overlong forms, surrogates, the range's end) is the
    // core's one check; the lead byte only says how far to look.
    if (length == 0 || i + length > text.size() || !core::is_valid_utf8(text.substr(i, length))) {
      append_hex(out, byte);
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace

std::string shown_text(std::string_view text) { return shown(text, true); }

// On Windows a backslash is the separator, and the UTF-16 name always has a
// UTF-8 form, so a path is shown as its UTF-8 text with its backslashes.
#ifdef _WIN32
std::string shown_path(const std::filesystem::path& path) { return shown(core::path_utf8(path), false); }
#else
std::string shown_path(const std::filesystem::path& path) { return shown(path.native(), true); }
#endif

}  // namespace mcp
