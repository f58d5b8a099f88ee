#include "links/link_rewrite.hpp"

#include "links/link_extract.hpp"
#include "base/text.hpp"
#include "base/title_key.hpp"

namespace core {

RewrittenBody rewrite_links(std::string_view body, std::string_view old_title, std::string_view new_title) {
  const std::string_view from = trim(old_title);
  const std::string_view to = trim(new_title);
  if (from.empty() || to.empty() || same_title(from, to)) return {std::string(body), 0};

  // The spans do not overlap and come in order, so the new body is built
  // front to back in one pass.
  RewrittenBody out;
  std::size_t copied = 0;
  for (const WikiLinkSpan& span : find_wiki_link_spans(body)) {
    if (!same_title(span.text, from)) continue;
    out.body.append(body.substr(copied, span.start - copied));
    out.body.append("[[").append(to).append("]]");
    copied = span.end;
    ++out.replaced;
  }
  out.body.append(body.substr(copied));
  return out;
}

}  // namespace core
