#pragma once
// The printed result of one benchmark run: a header with the vault, the
// load and the server's memory, then one line per operation.

#include "stats.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct ReportRow {
  std::string operation;
  std::optional<size_t> rows;       // rows in the server's last answer, when it has a list
  std::optional<Summary> server;    // absent when the server was not asked
  std::optional<Summary> floor;     // open + batches + statements + close
  std::optional<Summary> bare;      // the statements alone on an open connection
  std::string failure;              // why the server side has no timing
  // The baseline server (--baseline), its calls alternating with the
  // server's on the same vault; absent without one.
  std::optional<Summary> baseline;
};

struct LoadSummary {
  size_t notes = 0;
  double seconds = 0;
  Summary upsert;
  Summary move;
  // Seconds spent on the first and on the last tenth of the notes, so a load
  // that slows down as the vault grows shows it; 0 when not measured.
  double first_tenth_seconds = 0;
  double last_tenth_seconds = 0;
};

struct Report {
  size_t notes = 0;
  uint64_t seed = 0;
  size_t warmup = 0;
  size_t reps = 0;
  std::optional<LoadSummary> load;
  std::optional<long> peak_kib;       // the server's VmHWM
  std::vector<std::string> remarks;   // extra header lines, printed as they are
  std::vector<ReportRow> rows;
  bool complete = true;  // false when anything failed or was skipped
};

// The whole report as text, lines ending in "\n". Times are milliseconds;
// the ratio is server median over floor median; with a baseline, each line
// ends with the baseline's median and the server's median over it.
std::string format_report(const Report& report);

// 1234567 as "1,234,567".
std::string with_thousands(uint64_t value);
// A duration in milliseconds with about three significant digits.
std::string format_ms(double ms);

}  // namespace bench
