#pragma once
// Meta filters and rolling dates. A stored meta value such as
// "rolling:tomorrow" or "rolling:+7d" stands for a calendar date relative to
// the current local day and is resolved when a filter is tested; the stored
// text is never changed. Dates are written as date text, "YYYY-MM-DD".
//
// Rolling expressions (the part after "rolling:", matched case-sensitively,
// with D the current local date):
//   today, tomorrow, yesterday   D, D + 1, D - 1
//   next-monday                  the first Monday after D (D + 7 on a Monday)
//   +Nd, -Nd                     D + N, D - N. All leading copies of the first
//                                character and all trailing "d" are removed;
//                                the rest must be a 64-bit integer with at
//                                most one sign, which is applied: "+-2d",
//                                "-+2d" and "--2d" all mean D - 2.
// Anything else does not resolve. Neither does an expression whose date
// falls outside 0000-01-01..9999-12-31, the dates that date text can write.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace date {
class time_zone;
}

namespace core {

// One meta:key=value word of a search query; both texts exactly as written.
struct MetaFilter {
  std::string key;
  std::string value;

  bool operator==(const MetaFilter&) const = default;
};

// A zone of the IANA time-zone database, or UTC. Cheap to copy; the zone
// data belongs to the database, which lives as long as the process.
class TimeZone {
 public:
  // UTC, usable even when no time-zone database can be read.
  static TimeZone utc() { return TimeZone(nullptr); }
  // The zone named exactly `name` (a link name is accepted); nullopt when
  // the database has no such zone or cannot be read.
  static std::optional<TimeZone> find(std::string_view name);

  // The zone's database name; "UTC" for utc().
  std::string name() const;
  // The calendar date in this zone at `instant`: the UTC date after shifting
  // by the zone's offset at that instant.
  std::chrono::year_month_day date_at(std::chrono::system_clock::time_point instant) const;

 private:
  friend TimeZone local_time_zone();
  explicit TimeZone(const date::time_zone* zone) : zone_(zone) {}
  const date::time_zone* zone_;  // nullptr is UTC
};

// The process's local zone: the TZ environment variable when it is set (a
// leading ":" is ignored), else the system's configured zone. A name the
// database lacks, an empty TZ, or no configured zone at all gives UTC.
// Never fails.
TimeZone local_time_zone();

// Today's date in `zone`, read from the system clock.
std::chrono::year_month_day current_local_date(const TimeZone& zone);

// `day` as date text, "YYYY-MM-DD", the year padded to four digits.
std::string format_date(std::chrono::year_month_day day);

// The value a stored meta value stands for when `today` is the current date:
// the value trimmed of white space, or, for a rolling expression, its date
// as date text. nullopt when the value is a rolling expression that does not
// resolve.
std::optional<std::string> resolve_meta_value(std::string_view stored, std::chrono::year_month_day today);
// As above, with today's date in `zone`.
std::optional<std::string> resolve_meta_value(std::string_view stored, const TimeZone& zone);

// Whether `metas` pass `filter` when `today` is the current date. The key is
// compared exactly. The stored value is resolved (an unresolved rolling
// expression counts as itself, untrimmed). A filter value spelling "today" in
// any ASCII case asks for the date text of `today`; any other filter value
// must equal the resolved value with ASCII letters compared regardless of
// case. The filter value itself is never resolved.
bool meta_matches(const std::map<std::string, std::string>& metas, const MetaFilter& filter,
                  std::chrono::year_month_day today);
// As above, with today's date in `zone`.
bool meta_matches(const std::map<std::string, std::string>& metas, const MetaFilter& filter,
                  const TimeZone& zone);

}  // namespace core
