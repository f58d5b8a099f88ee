#include "index/sqlite.hpp"

#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::TempDir;

class Sqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = open_database(dir_.path() / "t.db");
    ASSERT_TRUE(is_ok(opened));
    db_ = std::move(*opened);
    ASSERT_TRUE(is_ok(exec(db_.get(), "CREATE TABLE t (a TEXT, b INTEGER);")));
  }

  long long count() {
    auto stmt = prepare(db_.get(), "SELECT count(*) FROM t");
    EXPECT_TRUE(is_ok(stmt));
    auto row = stmt->step();
    EXPECT_TRUE(row && *row);
    return stmt->column_int64(0);
  }

  TempDir dir_;
  DbHandle db_;
};

TEST_F(Sqlite, BindAllTakesTextOptionalsAndIntegersAndReadsThemBack) {
  const std::string text = "caf\xC3\xA9";
  ASSERT_TRUE(is_ok(run_statement(db_.get(), "INSERT INTO t VALUES (?1, ?2)", text, 7)));
  ASSERT_TRUE(is_ok(run_statement(db_.get(), "INSERT INTO t VALUES (?1, ?2)", std::optional<std::string>(), 8)));
  auto stmt = prepare(db_.get(), "SELECT a, b FROM t ORDER BY b");
  ASSERT_TRUE(is_ok(stmt));
  ASSERT_TRUE(*stmt->step());
  EXPECT_EQ(*stmt->column_text(0), text);
  EXPECT_EQ(stmt->column_int64(1), 7);
  ASSERT_TRUE(*stmt->step());
  EXPECT_TRUE(stmt->column_is_null(0));
  auto null_text = stmt->column_text(0);
  ASSERT_FALSE(null_text);
  EXPECT_EQ(to_text(null_text.error()), "database error: column a holds null, not text");
  EXPECT_FALSE(*stmt->step());
}

TEST_F(Sqlite, FailuresCarrySqlitesMessage) {
  auto bad = prepare(db_.get(), "SELEC 1");
  ASSERT_FALSE(bad);
  EXPECT_EQ(to_text(bad.error()), "database error: near \"SELEC\": syntax error");
  auto stmt = prepare(db_.get(), "SELECT ?1");
  ASSERT_TRUE(is_ok(stmt));
  auto out_of_range = stmt->bind_all("a", "b");
  ASSERT_FALSE(out_of_range);
  EXPECT_EQ(to_text(out_of_range.error()), "database error: column index out of range");
  auto batch = exec(db_.get(), "INSERT INTO t VALUES ('x', 1); INSERT INTO nowhere VALUES (1);");
  ASSERT_FALSE(batch);
  EXPECT_EQ(to_text(batch.error()), "database error: no such table: nowhere");
  EXPECT_EQ(count(), 1);  // the batch stops at the failing statement
}

TEST_F(Sqlite, TransactionRollsBackUnlessCommitted) {
  {
    auto tx = Transaction::begin_immediate(db_.get());
    ASSERT_TRUE(is_ok(tx));
    ASSERT_TRUE(is_ok(run_statement(db_.get(), "INSERT INTO t VALUES ('gone', 1)")));
    {  // a transaction begun inside another is a savepoint: dropped, only its own rows go
      auto nested = Transaction::begin_immediate(db_.get());
      ASSERT_TRUE(is_ok(nested));
      ASSERT_TRUE(is_ok(run_statement(db_.get(), "INSERT INTO t VALUES ('inner', 1)")));
    }
    EXPECT_EQ(count(), 1);
    {  // committed, it joins the outer transaction, which can still roll it back
      auto nested = Transaction::begin_immediate(db_.get());
      ASSERT_TRUE(is_ok(nested));
      ASSERT_TRUE(is_ok(run_statement(db_.get(), "INSERT INTO t VALUES ('joined', 1)")));
      ASSERT_TRUE(is_ok(nested->commit()));
    }
    EXPECT_EQ(count(), 2);
  }
  EXPECT_EQ(count(), 0);
  auto tx = Transaction::begin_immediate(db_.get());
  ASSERT_TRUE(is_ok(tx));
  ASSERT_TRUE(is_ok(run_statement(db_.get(), "INSERT INTO t VALUES ('kept', 1)")));
  ASSERT_TRUE(is_ok(tx->commit()));
  EXPECT_EQ(count(), 1);
}

TEST_F(Sqlite, ADeadlineInterruptsALongStatementOnlyWhileItLives) {
  // Counting to a billion takes far longer than a millisecond.
  constexpr std::string_view kLong =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 1000000000) SELECT count(*) FROM c";
  {
    const StatementDeadline deadline(db_.get(), std::chrono::milliseconds(1));
    auto stmt = prepare(db_.get(), kLong);
    ASSERT_TRUE(is_ok(stmt));
    auto row = stmt->step();
    ASSERT_FALSE(row);
    EXPECT_EQ(to_text(row.error()), "database error: interrupted: the call ran past its deadline");
    auto batch = exec(db_.get(), kLong);
    ASSERT_FALSE(batch);
    EXPECT_EQ(to_text(batch.error()), "database error: interrupted: the call ran past its deadline");
  }
  auto short_count = prepare(db_.get(), "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 100000) "
                                        "SELECT count(*) FROM c");
  ASSERT_TRUE(is_ok(short_count));
  auto row = short_count->step();
  ASSERT_TRUE(is_ok(row));
  EXPECT_EQ(short_count->column_int64(0), 100000);
}

TEST_F(Sqlite, InstanceCountCountsEveryMatchOfTheRow) {
  ASSERT_TRUE(is_ok(exec(db_.get(), "CREATE VIRTUAL TABLE f USING fts5(title, body);"
                                    "INSERT INTO f VALUES ('word', 'word and word, not words'), ('none', 'x');")));
  ASSERT_TRUE(is_ok(add_instance_count_function(db_.get())));
  struct Case { std::string match; long long want; };
  for (const Case& c : {Case{"word", 3}, Case{"word*", 4}, Case{"body:word", 2}, Case{"word AND not", 4}}) {
    auto stmt = prepare(db_.get(), "SELECT bt_instance_count(f) FROM f WHERE f MATCH ?1");
    ASSERT_TRUE(is_ok(stmt));
    ASSERT_TRUE(is_ok(stmt->bind_all(c.match)));
    auto row = stmt->step();
    ASSERT_TRUE(row && *row) << c.match;
    EXPECT_EQ(stmt->column_int64(0), c.want) << c.match;
  }
}

TEST(SqliteOpen, UnopenableFileFailsWithSqlitesMessage) {
  TempDir dir;
  auto db = open_database(dir.path() / "missing-folder" / "t.db");
  ASSERT_FALSE(db);
  EXPECT_EQ(to_text(db.error()), "database error: unable to open database file");
}

}  // namespace
}  // namespace core
