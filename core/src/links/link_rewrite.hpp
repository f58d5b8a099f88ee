#pragma once
// Rewriting the title links of a body after the linked note's title changed.

#include <cstddef>
#include <string>
#include <string_view>

namespace core {

struct RewrittenBody {
  std::string body;
  std::size_t replaced = 0;  // links rewritten; 0 means `body` is the input unchanged
};

// Replaces every title link of `body` whose text (trimmed of white space,
// as link texts are) is the same title (see title_key.hpp) as `old_title`
// trimmed of white space by "[[" + trimmed `new_title` + "]]". With outer
// white space gone from both, that is: equal but for ASCII letter case.
// Nothing is rewritten when either title is blank after trimming, or when
// the two are the same title. The caller decides whether the links of a
// title are to be rewritten at all (is_linkable_title). The new title is written
// as it is, with no escaping. Identifier links are never touched.
RewrittenBody rewrite_links(std::string_view body, std::string_view old_title, std::string_view new_title);

}  // namespace core
