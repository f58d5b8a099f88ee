#include "run.hpp"

#include "temp_folder_for_tests.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace bench {
namespace {

RunOptions small_run(const std::filesystem::path& root) {
  RunOptions options;
  options.notes = 100;
  options.warmup = 1;
  options.reps = 2;
  options.server_binary = BT_SERVER_BINARY;
  options.work_root = root;
  return options;
}

std::string failures_of(const Report& report) {
  std::string text;
  for (const std::string& remark : report.remarks) text += remark + "\n";
  for (const ReportRow& row : report.rows)
    if (!row.failure.empty()) text += row.operation + ": " + row.failure + "\n";
  return text;
}

// The whole run against the real server: every answer as expected, every
// operation timed on both sides, and the workspace gone afterwards.
TEST(Run, SmallVaultThroughTheServerAnswersEveryOperation) {
  testing::TempFolder root;
  auto report = run_benchmark(small_run(root.path()));
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_TRUE(report->complete) << failures_of(*report);
  ASSERT_TRUE(report->load.has_value());
  EXPECT_EQ(report->load->notes, 100u);
  EXPECT_GT(report->peak_kib.value_or(0), 0);
  for (const ReportRow& row : report->rows) {
    ASSERT_TRUE(row.server.has_value()) << row.operation;
    EXPECT_EQ(row.server->count, 2u) << row.operation;
    EXPECT_EQ(row.floor.has_value(), row.operation != "ping") << row.operation;
  }
  EXPECT_TRUE(std::filesystem::is_empty(root.path()));
}

TEST(Run, FloorOnlyFillsTheIndexWithoutAServer) {
  testing::TempFolder root;
  RunOptions options = small_run(root.path());
  options.floor_only = true;
  options.server_binary = "/nonexistent/server";
  options.keep = true;
  auto report = run_benchmark(options);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_TRUE(report->complete) << failures_of(*report);
  EXPECT_FALSE(report->load.has_value());
  for (const ReportRow& row : report->rows) {
    EXPECT_FALSE(row.server.has_value()) << row.operation;
    EXPECT_EQ(row.floor.has_value(), row.operation != "ping") << row.operation;
  }
  EXPECT_FALSE(std::filesystem::is_empty(root.path()));  // kept
}

TEST(Run, AServerThatCannotLoadLeavesTheFloorOutAndTheRunIncomplete) {
  testing::TempFolder root;
  RunOptions options = small_run(root.path());
  options.server_binary = "/bin/cat";  // echoes each request: an answer without a result
  auto report = run_benchmark(options);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_FALSE(report->complete);
  EXPECT_FALSE(report->load.has_value());
  for (const ReportRow& row : report->rows) EXPECT_FALSE(row.floor.has_value()) << row.operation;
}

}  // namespace
}  // namespace bench
