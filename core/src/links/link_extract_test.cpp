#include "links/link_extract.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using Texts = std::vector<std::string>;

TEST(LinkExtract, TitleLinks) {
  struct Case { std::string body; Texts want; };
  const Case cases[] = {
      {"", {}},
      {"[[]]", {}},
      {"[[a]]", {"a"}},
      {"[[Project Plan]] and [[ project plan ]] and [[Project Plan]]", {"Project Plan", "project plan"}},
      {"[[]] [[   ]] [[\t\u00A0]] then [[x]]", {"x"}},
      {"[[abc no closing then [[x]]", {"abc no closing then [[x"}},
      {"[[abc and nothing closes", {}},
      {"]] [[x]]]", {"x"}},
      {"[[a] ]]", {"a]"}},
      {"[[a [[b]]", {"a [[b"}},
      {"[[[[Plan]]", {"[[Plan"}},
      {"[[Page|label]] [[Note#Heading]]", {"Page|label", "Note#Heading"}},
      {"```\n[[In Code]]\n```\n`[[Span]]`", {"In Code", "Span"}},
      {"[[\xC3\x84pfel]] [[\xC3\xA4pfel]]", {"\xC3\x84pfel", "\xC3\xA4pfel"}},
      {"[[a]", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(extract_wiki_links(c.body), c.want) << "body: '" << c.body << "'";
}

TEST(LinkExtract, IdentifierLinks) {
  const std::string id = "m4x8q2v7c1n9b3k6z0p5w2ty";
  const std::string len8(8, 'a'), len128(128, 'b'), len129(129, 'c');
  struct Case { std::string body; Texts want; };
  const Case cases[] = {
      {"BRASK-TOLVANE://" + id + " and tolvane://" + id, {id}},
      {"Tolvane://" + id, {id}},
      {"tolvane://abc1234", {}},
      {"tolvane://" + len8, {len8}},
      {"tolvane://" + len128, {len128}},
      {"tolvane://" + len129, {}},
      {"brask-tolvane://" + id + "/sub (brask-tolvane://" + id + ".)", {id}},
      {"tolvane://a-b_c-d_e?x#y tolvane://zzzzzzzz)", {"a-b_c-d_e", "zzzzzzzz"}},
      {"brask-tolvane://short tolvane://" + len8, {len8}},
      {"brask-tolvane:/" + id + " tolvane:" + id, {}},
      {"\xC3\xA4tolvane://" + id + "\xC3\xA4", {id}},
  };
  for (const Case& c : cases) EXPECT_EQ(extract_id_links(c.body), c.want) << "body: '" << c.body << "'";
}

TEST(LinkExtract, RecordsListTitleLinksThenOtherNotesIds) {
  const std::string self = "selfselfselfselfselfself";
  const std::string other = "m4x8q2v7c1n9b3k6z0p5w2ty";
  const std::string body = "tolvane://" + other + " [[B]] tolvane://" + self + " [[A]] [[B]]";
  const std::vector<LinkRecord> want = {
      {"markdown", std::nullopt, "B", true},
      {"markdown", std::nullopt, "A", true},
      {"markdown", other, std::nullopt, false},
  };
  EXPECT_EQ(extract_links(body, self), want);
}

TEST(LinkExtract, SpansCoverBracketsAndKeepDuplicates) {
  const std::string body = "x [[ a ]] [[a]]]";
  auto spans = find_wiki_link_spans(body);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].text, "a");
  EXPECT_EQ(body.substr(spans[0].start, spans[0].end - spans[0].start), "[[ a ]]");
  EXPECT_EQ(body.substr(spans[1].start, spans[1].end - spans[1].start), "[[a]]");
}

TEST(LinkExtract, UnclosedOpeningsStayLinear) {
  const std::string body = std::string(1 << 20, '[') + "x";  // quadratic scanning would take minutes
  EXPECT_TRUE(extract_wiki_links(body).empty());
}

}  // namespace
}  // namespace core
