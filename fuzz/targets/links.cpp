// Link extraction and rewriting. The input is a body, then optionally a NUL
// byte and the old title, then another NUL byte and the new title.
//
// Checked beyond "no crash": every span lies inside the body, opens with
// "[[" and closes with "]]", in order; a rewrite that replaces nothing gives
// the body back unchanged; rewriting a title to itself changes nothing.

#include "links/link_extract.hpp"
#include "links/link_rewrite.hpp"
#include "input_parts.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputParts parts(data, size);
  const std::string_view body = parts.next();
  const std::string_view old_title = parts.next();
  const std::string_view new_title = parts.next();

  std::size_t previous_end = 0;
  for (const core::WikiLinkSpan& span : core::find_wiki_link_spans(body)) {
    if (span.start < previous_end || span.end > body.size() || span.end < span.start + 4) std::abort();
    if (body.substr(span.start, 2) != "[[" || body.substr(span.end - 2, 2) != "]]") std::abort();
    if (span.text.empty()) std::abort();
    previous_end = span.end;
  }
  core::extract_wiki_links(body);
  core::extract_id_links(body);
  core::extract_links(body, old_title);

  const core::RewrittenBody rewritten = core::rewrite_links(body, old_title, new_title);
  if (rewritten.replaced == 0 && rewritten.body != body) std::abort();
  if (core::rewrite_links(body, old_title, old_title).replaced != 0) std::abort();
  return 0;
}
