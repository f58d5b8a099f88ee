#include "index/statement_cache.hpp"

#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::TempDir;

class Cache : public ::testing::Test {
 protected:
  void SetUp() override {
    for (DbHandle* db : {&db_, &other_}) {
      auto opened = open_database(dir_.path() / "t.db");
      ASSERT_TRUE(is_ok(opened));
      *db = std::move(*opened);
    }
    ASSERT_TRUE(is_ok(exec(db_.get(), "PRAGMA journal_mode=WAL; CREATE TABLE t (a TEXT, b INTEGER);")));
  }

  long long count_with(std::string_view sql) {
    auto stmt = cache_.lend(db_.get(), sql);
    EXPECT_TRUE(is_ok(stmt));
    auto row = (*stmt)->step();
    EXPECT_TRUE(row && *row);
    return (*stmt)->column_int64(0);
  }

  TempDir dir_;
  DbHandle db_;
  DbHandle other_;
  StatementCache cache_;
};

// A query left after its first row must not keep its read snapshot: the
// next borrower sees what another connection committed in between.
TEST_F(Cache, AnEndedLeaseReleasesTheReadSoLaterWritesAreSeen) {
  constexpr std::string_view kCount = "SELECT count(*) FROM t";
  EXPECT_EQ(count_with(kCount), 0);
  ASSERT_TRUE(is_ok(run_statement(other_.get(), "INSERT INTO t VALUES ('x', 1)")));
  EXPECT_EQ(count_with(kCount), 1);
}

TEST_F(Cache, OneStatementPerTextWithItsBindingsClearedBetweenLeases) {
  constexpr std::string_view kInsert = "INSERT INTO t VALUES (?1, ?2)";
  ASSERT_TRUE(is_ok(run_cached(cache_, db_.get(), kInsert, std::string_view("a"), 1)));
  Statement* first = nullptr;
  {
    auto lease = cache_.lend(db_.get(), kInsert);
    ASSERT_TRUE(is_ok(lease));
    first = &**lease;
    ASSERT_TRUE(is_ok((*lease)->run()));  // nothing bound: both NULL
  }
  auto again = cache_.lend(db_.get(), std::string(kInsert));  // equal text, another buffer
  ASSERT_TRUE(is_ok(again));
  EXPECT_EQ(&**again, first);
  EXPECT_EQ(count_with("SELECT count(*) FROM t WHERE a IS NULL AND b IS NULL"), 1);
  EXPECT_EQ(count_with("SELECT count(*) FROM t WHERE a = 'a' AND b = 1"), 1);
}

// A failed statement is reset when its lease ends; a text that does not
// compile fails each time it is asked for.
TEST_F(Cache, FailuresLeaveTheCacheUsable) {
  ASSERT_TRUE(is_ok(exec(db_.get(), "CREATE UNIQUE INDEX t_a ON t (a)")));
  constexpr std::string_view kInsert = "INSERT INTO t VALUES (?1, 0)";
  ASSERT_TRUE(is_ok(run_cached(cache_, db_.get(), kInsert, std::string_view("k"))));
  EXPECT_FALSE(run_cached(cache_, db_.get(), kInsert, std::string_view("k")).has_value());
  EXPECT_TRUE(is_ok(run_cached(cache_, db_.get(), kInsert, std::string_view("l"))));
  for (int i = 0; i < 2; ++i) {
    auto bad = cache_.lend(db_.get(), "SELECT nope FROM t");
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().kind(), ErrorKind::Database);
  }
}

// What a reader borrows must only read, whether the cache prepares it
// then or already holds it from a writer; a refused text is not kept.
TEST_F(Cache, AReaderIsLentNoStatementThatWrites) {
  constexpr std::string_view kInsert = "INSERT INTO t VALUES ('r', 1)";
  EXPECT_FALSE(cache_.lend_query(db_.get(), kInsert).has_value());
  EXPECT_FALSE(cache_.lend_query(db_.get(), kInsert).has_value());
  ASSERT_TRUE(is_ok(run_cached(cache_, db_.get(), kInsert)));
  EXPECT_FALSE(cache_.lend_query(db_.get(), kInsert).has_value());
  auto read = cache_.lend_query(db_.get(), "SELECT count(*) FROM t");
  ASSERT_TRUE(is_ok(read));
  auto row = (*read)->step();
  ASSERT_TRUE(row && *row);
  EXPECT_EQ((*read)->column_int64(0), 1);
}

}  // namespace
}  // namespace core
