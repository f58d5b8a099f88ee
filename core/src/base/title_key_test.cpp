#include "base/title_key.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace core {
namespace {

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalize {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

// SQLite's own answer: the expression the index's statements and title
// indexes are written with, evaluated by the library the index uses.
class SqlKeys {
 public:
  SqlKeys() {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    db_.reset(raw);
  }
  std::string key(std::string_view title) {
    auto stmt = prepare("SELECT lower(trim(?1))");
    bind(stmt.get(), 1, title);
    EXPECT_EQ(sqlite3_step(stmt.get()), SQLITE_ROW);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), 0)));
  }
  bool same(std::string_view a, std::string_view b) {
    auto stmt = prepare("SELECT lower(trim(?1)) = lower(trim(?2))");
    bind(stmt.get(), 1, a);
    bind(stmt.get(), 2, b);
    EXPECT_EQ(sqlite3_step(stmt.get()), SQLITE_ROW);
    return sqlite3_column_int(stmt.get(), 0) == 1;
  }

 private:
  std::unique_ptr<sqlite3_stmt, Finalize> prepare(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr), SQLITE_OK);
    return std::unique_ptr<sqlite3_stmt, Finalize>(raw);
  }
  static void bind(sqlite3_stmt* stmt, int index, std::string_view text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  std::unique_ptr<sqlite3, CloseDb> db_;
};

// Titles where a white-space or case rule other than SQL's would part ways:
// tabs, line ends, no-break and ideographic spaces at either end, spaces
// inside, non-ASCII letters of both cases, a lone combining mark, a NUL.
const std::vector<std::string> kAwkwardTitles = {
    "", " ", "   ", "\t", "Plan", "plan", "PLAN", " Plan ", "  plan", "Plan\t", "\tPlan", "Plan\n", "Plan\r\n",
    "Plan\u00a0", "\u00a0Plan", "Plan\u3000", "\u2028Plan", "Pl an", "Pl  an", "Pl\tan", "Plän", "PLÄN", "plÄn",
    "\u0130stanbul", "istanbul", "\u03a3\u03b1", "\u03c3\u03b1", "Cafe\u0301", "Caf\u00e9", std::string("Pl\0an", 5),
    "\u00a0", " \u00a0 ", "[[Plan]]", "Plan\u200b",
};

TEST(TitleKey, IsSqlitesLowerOfTrim) {
  SqlKeys sql;
  for (const std::string& title : kAwkwardTitles) EXPECT_EQ(title_key(title), sql.key(title)) << "title: '" << title << "'";
}

TEST(TitleKey, SameTitleAgreesWithSqlOnEveryPair) {
  SqlKeys sql;
  for (const std::string& a : kAwkwardTitles)
    for (const std::string& b : kAwkwardTitles)
      EXPECT_EQ(same_title(a, b), sql.same(a, b)) << "a: '" << a << "' b: '" << b << "'";
}

TEST(TitleKey, OnlyTitlesWithoutOuterWhiteSpaceBeyondSpacesCanBeLinked) {
  struct Case { std::string_view title; bool linkable; };
  for (const Case& c : {Case{"Plan", true}, Case{"  Plan ", true}, Case{"Pl\tan", true}, Case{"Plän", true},
                        Case{"", false}, Case{"   ", false}, Case{"Plan\t", false}, Case{"\tPlan", false},
                        Case{"Plan\u00a0", false}, Case{" \u3000Plan", false}, Case{"\u00a0", false}})
    EXPECT_EQ(is_linkable_title(c.title), c.linkable) << "title: '" << c.title << "'";
}

}  // namespace
}  // namespace core
