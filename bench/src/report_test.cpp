#include "report.hpp"

#include <gtest/gtest.h>

namespace bench {
namespace {

std::vector<double> one_to(int n) {
  std::vector<double> samples;
  for (int i = n; i >= 1; --i) samples.push_back(i);  // unsorted on purpose
  return samples;
}

TEST(Stats, MedianAndNearestRankP95) {
  struct Case { std::string label; std::vector<double> samples; double median, p95; size_t count; };
  for (const Case& c : {Case{"none", {}, 0, 0, 0}, Case{"one", {5}, 5, 5, 1}, Case{"two", {2, 1}, 1.5, 2, 2},
                        Case{"1..20", one_to(20), 10.5, 19, 20}, Case{"1..21", one_to(21), 11, 20, 21},
                        Case{"1..100", one_to(100), 50.5, 95, 100}}) {
    const Summary s = summarize(c.samples);
    EXPECT_DOUBLE_EQ(s.median_ms, c.median) << c.label;
    EXPECT_DOUBLE_EQ(s.p95_ms, c.p95) << c.label;
    EXPECT_EQ(s.count, c.count) << c.label;
  }
}

TEST(Report, NumbersAreGroupedAndTimesKeepThreeDigits) {
  struct Count { uint64_t in; std::string_view want; };
  for (const Count& c : {Count{0, "0"}, Count{999, "999"}, Count{1000, "1,000"}, Count{100000, "100,000"},
                         Count{1234567, "1,234,567"}})
    EXPECT_EQ(with_thousands(c.in), c.want) << c.in;
  struct Time { double in; std::string_view want; };
  for (const Time& t : {Time{0, "0.000"}, Time{0.5, "0.500"}, Time{42.25, "42.25"}, Time{512.5, "512.5"},
                        Time{1663.4, "1663"}})
    EXPECT_EQ(format_ms(t.in), t.want) << t.in;
}

TEST(Report, TableShowsTimesRatioAndFailures) {
  Report report;
  report.notes = 1000;
  report.seed = 1;
  report.warmup = 3;
  report.reps = 30;
  report.load = LoadSummary{1000, 4.0, {2, 3, 1000}, {1, 1.5, 850}, 0.25, 0.5};
  report.peak_kib = 2048;
  report.remarks = {"a remark"};
  report.rows.push_back({"ping", std::nullopt, Summary{0.02, 0.03, 30}, std::nullopt, std::nullopt, "", std::nullopt});
  report.rows.push_back({"search_notes rare word", 3, Summary{1.0, 1.5, 30}, Summary{0.5, 0.6, 30}, Summary{0.1, 0.1, 30}, "", std::nullopt});
  report.rows.push_back({"get_note", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "note not found: x", std::nullopt});
  report.rows.push_back({"set_metas", std::nullopt, Summary{1.0, 1.2, 30}, std::nullopt, std::nullopt, "", Summary{4.0, 5.0, 30}});

  const std::string text = format_report(report);
  EXPECT_NE(text.find("== 1,000 notes (seed 1; 30 timed calls after 3 warm-up calls"), std::string::npos) << text;
  EXPECT_NE(text.find("load: 1,000 notes in 4.0 s = 250.0 notes/s (upsert_note median 2.000 ms"), std::string::npos) << text;
  EXPECT_NE(text.find(" ms); first tenth 400.0 notes/s, last tenth 200.0 notes/s\n"), std::string::npos) << text;
  EXPECT_NE(text.find("server peak resident memory (VmHWM): 2.0 MiB\n"), std::string::npos) << text;
  EXPECT_NE(text.find("a remark\n"), std::string::npos) << text;
  const std::string rare = "search_notes rare word                   3      1.000      1.500      0.500      0.100    2.0x\n";
  EXPECT_NE(text.find(rare), std::string::npos) << text;
  const std::string ping = "ping                                     -      0.020      0.030          -          -       -\n";
  EXPECT_NE(text.find(ping), std::string::npos) << text;
  EXPECT_NE(text.find("-  failed: note not found: x\n"), std::string::npos) << text;
  EXPECT_NE(text.find("      -  baseline med 4.000 (0.25x)\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace bench
