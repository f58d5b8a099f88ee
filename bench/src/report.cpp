#include "report.hpp"

#include <cstdio>

namespace bench {
namespace {

constexpr int kNameWidth = 34;

std::string printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string padded_left(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string padded_right(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string cell(const std::optional<Summary>& summary, bool p95 = false) {
  if (!summary || summary->count == 0) return padded_left("-", 11);
  return padded_left(format_ms(p95 ? summary->p95_ms : summary->median_ms), 11);
}

std::string ratio_cell(const ReportRow& row) {
  if (!row.server || !row.floor || row.floor->median_ms <= 0) return padded_left("-", 8);
  return padded_left(printed("%.1fx", row.server->median_ms / row.floor->median_ms), 8);
}

std::string row_line(const ReportRow& row) {
  std::string line = padded_right(row.operation, kNameWidth);
  line += padded_left(row.rows ? with_thousands(*row.rows) : "-", 8);
  line += cell(row.server) + cell(row.server, true) + cell(row.floor) + cell(row.bare) + ratio_cell(row);
  if (row.baseline && row.baseline->count > 0 && row.server && row.baseline->median_ms > 0)
    line += "  baseline med " + format_ms(row.baseline->median_ms) + " (" +
            printed("%.2fx", row.server->median_ms / row.baseline->median_ms) + ")";
  if (!row.failure.empty()) line += "  failed: " + row.failure;
  return line + "\n";
}

// "; first tenth R notes/s, last tenth R notes/s", or nothing when not measured.
std::string tenths_text(const LoadSummary& load) {
  if (load.first_tenth_seconds <= 0 || load.last_tenth_seconds <= 0) return "";
  const double tenth = static_cast<double>(load.notes) / 10;
  return "; first tenth " + printed("%.1f", tenth / load.first_tenth_seconds) + " notes/s, last tenth " +
         printed("%.1f", tenth / load.last_tenth_seconds) + " notes/s";
}

std::string load_line(const LoadSummary& load) {
  const double rate = load.seconds > 0 ? static_cast<double>(load.notes) / load.seconds : 0;
  return "load: " + with_thousands(load.notes) + " notes in " + printed("%.1f", load.seconds) + " s = " +
         printed("%.1f", rate) + " notes/s (upsert_note median " + format_ms(load.upsert.median_ms) +
         " ms, p95 " + format_ms(load.upsert.p95_ms) + " ms; move_note median " + format_ms(load.move.median_ms) +
         " ms, p95 " + format_ms(load.move.p95_ms) + " ms)" + tenths_text(load) + "\n";
}

}  // namespace

std::string with_thousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string format_ms(double ms) {
  if (ms < 10) return printed("%.3f", ms);
  if (ms < 100) return printed("%.2f", ms);
  if (ms < 1000) return printed("%.1f", ms);
  return printed("%.0f", ms);
}

std::string format_report(const Report& report) {
  std::string text = "== " + with_thousands(report.notes) + " notes (seed " + std::to_string(report.seed) + "; " +
                     std::to_string(report.reps) + " timed calls after " + std::to_string(report.warmup) +
                     " warm-up calls per operation; times in ms)\n";
  if (report.load) text += load_line(*report.load);
  if (report.peak_kib)
    text += "server peak resident memory (VmHWM): " + printed("%.1f", static_cast<double>(*report.peak_kib) / 1024) +
            " MiB\n";
  for (const std::string& remark : report.remarks) text += remark + "\n";
  text += padded_right("operation", kNameWidth) + padded_left("rows", 8) + padded_left("server med", 11) +
          padded_left("server p95", 11) + padded_left("floor med", 11) + padded_left("bare med", 11) +
          padded_left("ratio", 8) + "\n";
  for (const ReportRow& row : report.rows) text += row_line(row);
  return text;
}

}  // namespace bench
