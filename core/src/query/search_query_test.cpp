#include "query/search_query.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

namespace core {
namespace {

using namespace std::chrono;

constexpr year_month_day kToday = 2024y / June / 5;

std::string describe(const SearchQuery& q) {
  std::string out = "text '" + q.text + "' tags";
  for (const auto& t : q.tags) out += " '" + t + "'";
  out += " metas";
  for (const auto& m : q.metas) out += " '" + m.key + "'='" + m.value + "'";
  return out;
}

TEST(SearchQuery, ParsesFreeWordsTagsAndMetaFilters) {
  struct Case { std::string_view query; SearchQuery want; };
  const Case cases[] = {
      {"budget #Work review", {"budget review", {"Work"}, {}}},
      {"#work #WORK ##plan#x", {"", {"work", "plan"}, {}}},
      {"meta:status=draft notes", {"notes", {}, {{"status", "draft"}}}},
      {"meta:due=today meta:due=2024-06-01", {"", {}, {{"due", "today"}, {"due", "2024-06-01"}}}},
      {"meta:status # meta:=x", {"meta:status #", {}, {{"", "x"}}}},
      {"", {}},
      {" \u3000\t ", {}},
      {"  a\u00A0\u00A0b  ", {"a b", {}, {}}},
      {"meta:k=a=b meta:k= Meta:k=v", {"Meta:k=v", {}, {{"k", "a=b"}, {"k", ""}}}},
      {"## #Ärger #ärger x#y", {"## x#y", {"Ärger"}, {}}},
      {"#work, #work", {"", {"work,", "work"}, {}}},
  };
  for (const Case& c : cases) {
    const SearchQuery got = parse_search_query(c.query);
    EXPECT_EQ(got, c.want) << "query '" << c.query << "' gave " << describe(got);
  }
}

TEST(SearchQuery, MatchExpressionQuotesEveryWord) {
  struct Case { std::string_view text, want; };
  for (const Case& c : {Case{"", ""}, Case{"report", "\"report\"*"},
                        Case{"report q\"3", "\"report\"* AND \"q\"\"3\"*"},
                        Case{"\"\" a\"b\"", "\"\"\"\"\"\"* AND \"a\"\"b\"\"\"*"}})
    EXPECT_EQ(build_match_expression(c.text), c.want) << "text '" << c.text << "'";
}

// Counts the rows of a one-row full-text table that match `expression`, or
// gives SQLite's message when the expression is rejected.
std::string fts_count(const std::string& expression) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close_v2);
  sqlite3_exec(db,
               "CREATE VIRTUAL TABLE notes_fts USING fts5(note_id UNINDEXED, title, body);"
               "INSERT INTO notes_fts VALUES ('n1', 'Quarterly report', "
               "'Numbers for q\"3 and \"NEAR\" (AND) OR col:umn ^start -minus +plus star* {x}')",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM notes_fts WHERE notes_fts MATCH ?1", -1, &raw, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  sqlite3_bind_text(raw, 1, expression.data(), static_cast<int>(expression.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(raw) != SQLITE_ROW) return sqlite3_errmsg(db);
  return std::to_string(sqlite3_column_int(raw, 0));
}

TEST(SearchQuery, MatchExpressionNeverBreaksTheFullTextSyntax) {
  struct Case { std::string_view text, want; };
  const Case cases[] = {
      {"report", "1"},        {"quart rep", "1"},      {"numbers report", "1"},  // title and body
      {"port", "0"},          {"q\"3", "1"},           {"\"q\"3\"", "1"},
      {"\"NEAR\"", "1"},      {"NEAR(a b)", "0"},      {"AND", "1"},
      {"OR NOT", "0"},        {"col:umn", "1"},        {"title:quarterly", "0"},
      {"^start", "1"},        {"-minus", "1"},         {"+plus", "1"},
      {"star*", "1"},         {"{x}", "1"},            {"(AND)", "1"},
      {"a\"\"b", "0"},        {"\"unbalanced", "0"},   {"report missing", "0"},
      {"\"", "0"},            {"\"\"\"", "0"},        // no token at all: no match, no error
      // A NUL character (JSON's \u0000) separates tokens like any control
      // character; it must not end the expression inside its quotes.
      {std::string_view("quarterly\0rep", 13), "1"}, {std::string_view("report\0", 7), "1"},
      {std::string_view("\0", 1), "0"},                {std::string_view("rep\0ort", 7), "0"},
  };
  for (const Case& c : cases) {
    const std::string expression = build_match_expression(c.text);
    EXPECT_EQ(fts_count(expression), c.want) << "text '" << c.text << "' expression '" << expression << "'";
  }
}

TEST(SearchQuery, TagFiltersCompareStoredTagsAsTheyAre) {
  struct Case { std::vector<std::string> stored; std::string_view query; bool want; };
  const Case cases[] = {
      {{"work"}, "#work", true},         {{"Work"}, "#WORK", true},
      {{"#work"}, "#WORK", false},       {{"#work"}, "#work", false},  // the stored "#" counts
      {{}, "#work", false},              {{"work"}, "#workshop", false},
      {{"workshop"}, "#work", false},    {{"Ärger"}, "#ärger", false},
      {{"plan", "Work"}, "#work #PLAN", true},
      {{"plan"}, "#work #plan", false},  {{}, "free words only", true},
  };
  for (const Case& c : cases) {
    NoteFrontmatter note;
    note.tags = c.stored;
    EXPECT_EQ(note_matches_filters(note, parse_search_query(c.query), kToday), c.want)
        << "query '" << c.query << "', first stored tag '" << (c.stored.empty() ? "" : c.stored[0]) << "'";
  }
}

TEST(SearchQuery, MetaFiltersIncludingTheEmptyKey) {
  NoteFrontmatter with_empty_key;
  with_empty_key.metas = {{"", "x"}, {"due", "rolling:tomorrow"}, {"status", "Draft"}};
  with_empty_key.workspace_id = "w1";  // a workspace does not keep a note out
  NoteFrontmatter without;
  without.metas = {{"status", "draft"}};
  struct Case { std::string_view query; bool with_empty, without_empty; };
  for (const Case& c : {Case{"meta:=x", true, false}, Case{"meta:=X", true, false}, Case{"meta:=", false, false},
                        Case{"meta:status=draft", true, true},
                        Case{"meta:status=draft meta:due=2024-06-06", true, false},
                        Case{"meta:status=draft meta:status=final", false, false},
                        Case{"meta:status", true, true}}) {
    const SearchQuery q = parse_search_query(c.query);
    EXPECT_EQ(note_matches_filters(with_empty_key, q, kToday), c.with_empty) << c.query;
    EXPECT_EQ(note_matches_filters(without, q, kToday), c.without_empty) << c.query;
  }
}

}  // namespace
}  // namespace core
