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
    auto nested = Transaction::begin_immediate(db_.get());
    ASSERT_FALSE(nested);
    EXPECT_EQ(to_text(nested.error()), "database error: cannot start a transaction within a transaction");
  }
  EXPECT_EQ(count(), 0);
  auto tx = Transaction::begin_immediate(db_.get());
  ASSERT_TRUE(is_ok(tx));
  ASSERT_TRUE(is_ok(run_statement(db_.get(), "INSERT INTO t VALUES ('kept', 1)")));
  ASSERT_TRUE(is_ok(tx->commit()));
  EXPECT_EQ(count(), 1);
}

TEST(SqliteOpen, UnopenableFileFailsWithSqlitesMessage) {
  TempDir dir;
  auto db = open_database(dir.path() / "missing-folder" / "t.db");
  ASSERT_FALSE(db);
  EXPECT_EQ(to_text(db.error()), "database error: unable to open database file");
}

}  // namespace
}  // namespace core
