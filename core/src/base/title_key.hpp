#pragma once
// When two titles are the same title. A [[Title]] link names a note by its
// title, so the index (in SQL) and the note store and link rewriting (in
// C++) must agree on which titles are one; this is the one rule.
//
// The key of a title is the title with spaces (U+0020 only) cut from both
// ends and ASCII letters A..Z made lower case; every other byte is kept, so
// tabs, no-break spaces and non-ASCII letters count. It is exactly SQLite's
// lower(trim(x)) without ICU, the expression the index's title indexes are
// built on and every title comparison in SQL is written with; those
// statements keep that expression so that the indexes serve them. Titles
// are the same when their keys are equal.

#include <string>
#include <string_view>

namespace core {

// The key of `title`, as SQL's lower(trim(title)) gives it.
std::string title_key(std::string_view title);

// Whether `a` and `b` have the same key.
bool same_title(std::string_view a, std::string_view b);

// Whether some [[link]] can name `title`: a link's text is trimmed of all
// white space and never empty, so it names only titles whose key is not
// empty and neither begins nor ends with white space. "Plan" and " Plan "
// can be linked to; "Plan\t", "\u00a0Plan" and "  " cannot.
bool is_linkable_title(std::string_view title);

}  // namespace core
