#pragma once
// The links a note body holds. Title links are written [[Title]];
// identifier links are note addresses, brask-tolvane://<id> or the short
// tolvane://<id>. The scan is plain text work: code spans and code blocks
// are read like any other text, and there is no alias, anchor or escape
// syntax ([[Page|label]] names the title "Page|label").

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// One link of a body; the fields are the columns of the same names in the
// index's `links` table.
struct LinkRecord {
  std::string link_type;                    // always "markdown"
  std::optional<std::string> target_id;     // the linked note's id when known
  std::optional<std::string> target_title;  // the named title; none on identifier links
  bool unresolved = false;                  // a title link no unique note matched

  bool operator==(const LinkRecord&) const = default;
};

// One [[...]] occurrence: `text` is the bracketed text trimmed of white
// space and never empty; [`start`, `end`) covers both bracket pairs.
struct WikiLinkSpan {
  std::string_view text;  // a view into the scanned body
  std::size_t start;
  std::size_t end;
};

// Every title-link occurrence in `body`, in order, duplicates included.
// An opening "[[" takes the first "]]" after it, so "[[a [[b]]" has the
// text "a [[b"; blank links ("[[ ]]") are skipped.
std::vector<WikiLinkSpan> find_wiki_link_spans(std::string_view body);

// The distinct texts of the title links of `body`, in order of first
// appearance; comparison is exact, so "Plan" and "plan" are both kept.
std::vector<std::string> extract_wiki_links(std::string_view body);

// The distinct identifiers of the note addresses in `body`, in order of
// first appearance. The prefixes match in any ASCII letter case; the
// identifier is the run of ASCII letters, digits, "-" and "_" after the
// prefix, and counts only when 8 to 128 characters long.
std::vector<std::string> extract_id_links(std::string_view body);

// The link records of the body of note `note_id`: one per distinct title
// link (unresolved, by title), then one per distinct identifier link other
// than `note_id` itself (resolved, by id).
std::vector<LinkRecord> extract_links(std::string_view body, std::string_view note_id);

}  // namespace core
