#include "meta/meta_dates.hpp"

#include "base/process.hpp"
#include "base/text.hpp"
#ifdef _WIN32
#include "base/files.hpp"
#endif

#include <date/tz.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace core {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr std::string_view kRollingPrefix = "rolling:";

// The dates that date text can write with its four-digit year.
constexpr sys_days kFirstDay{year{0} / 1 / 1};
constexpr sys_days kLastDay{year{9999} / 12 / 31};

#ifdef _WIN32
// Windows has no IANA files of its own: the database travels with the
// program, in the folder tzdata beside it (IANA's text files and CLDR's
// table from Windows zone names to IANA names, which current_zone uses).
void use_shipped_database() {
  static const bool done = [] {
    date::set_install(path_utf8(running_program().parent_path() / "tzdata"));
    return true;
  }();
  (void)done;
}
#else
void use_shipped_database() {}
#endif

// `day` moved by `n` days; nullopt when the result leaves the writable range.
std::optional<year_month_day> add_days(year_month_day day, std::int64_t n) {
  const sys_days base{day};
  // Both bounds are small, so the comparison cannot overflow however large
  // `n` is; only a checked `n` is added.
  const auto below = static_cast<std::int64_t>((kFirstDay - base).count());
  const auto above = static_cast<std::int64_t>((kLastDay - base).count());
  if (n < below || n > above) return std::nullopt;
  return year_month_day{base + days{n}};
}

// An optional single sign followed by one or more ASCII digits and nothing
// else, within the signed 64-bit range.
std::optional<std::int64_t> parse_int64(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // from_chars for an unsigned type takes digits only: no sign, no space.
  std::uint64_t magnitude = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, magnitude);
  if (ec != std::errc() || stop != end) return std::nullopt;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > kMax + (negative ? 1 : 0)) return std::nullopt;
  // Unsigned negation wraps, and the conversion back is modular, so the
  // most negative value comes out exact.
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

// N of a "+...d" or "-...d" expression, already signed for its form.
std::optional<std::int64_t> signed_day_count(std::string_view part) {
  const char form = part.front();
  part.remove_prefix(std::min(part.find_first_not_of(form), part.size()));
  part = part.substr(0, part.find_last_not_of('d') + 1);  // npos + 1 leaves nothing
  std::optional<std::int64_t> n = parse_int64(part);
  if (!n || form == '+') return n;
  // Every leading "-" is gone, so a minus-form N is never negative and
  // negating it cannot overflow.
  return -*n;
}

// Days from `today` named by the expression part, or nullopt.
std::optional<std::int64_t> day_offset(std::string_view part, year_month_day today) {
  if (part == "today") return 0;
  if (part == "tomorrow") return 1;
  if (part == "yesterday") return -1;
  if (part == "next-monday") {
    const unsigned from_monday = std::chrono::weekday{sys_days{today}}.iso_encoding() - 1;
    return 7 - static_cast<std::int64_t>(from_monday);
  }
  if (!part.empty() && (part.front() == '+' || part.front() == '-') && part.back() == 'd')
    return signed_day_count(part);
  return std::nullopt;
}

}  // namespace

std::optional<TimeZone> TimeZone::find(std::string_view name) {
  // locate_zone throws for an unknown name and for a database it cannot read.
  // No zone has the empty name, whatever a database's search makes of it.
  if (name.empty()) return std::nullopt;
  use_shipped_database();
  try {
    return TimeZone(date::locate_zone(std::string(name)));
  } catch (...) {
    return std::nullopt;
  }
}

std::string TimeZone::name() const { return zone_ ? zone_->name() : std::string("UTC"); }

year_month_day TimeZone::date_at(std::chrono::system_clock::time_point instant) const {
  const sys_days utc_day = std::chrono::floor<days>(instant);
  if (zone_ == nullptr) return year_month_day{utc_day};
  try {
    const auto local_day = date::floor<date::days>(zone_->to_local(instant));
    // The library counts days in its own duration type; both count from the
    // same epoch, so the count carries over.
    return year_month_day{sys_days{days{local_day.time_since_epoch().count()}}};
  } catch (...) {
    return year_month_day{utc_day};
  }
}

TimeZone local_time_zone() {
  // An empty TZ is UTC to the C library as well, so it is not a reason to
  // consult the system setting.
  if (const std::optional<std::string> tz = environment_variable("TZ")) {
    std::string_view name = *tz;
    if (name.starts_with(':')) name.remove_prefix(1);
    return TimeZone::find(name).value_or(TimeZone::utc());
  }
  // current_zone reads /etc/localtime (Windows: the system's zone through
  // CLDR's table) and throws when it names no zone.
  use_shipped_database();
  try {
    return TimeZone(date::current_zone());
  } catch (...) {
    return TimeZone::utc();
  }
}

year_month_day current_local_date(const TimeZone& zone) {
  return zone.date_at(std::chrono::system_clock::now());
}

std::string format_date(year_month_day day) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return text;
}

std::optional<std::string> resolve_meta_value(std::string_view stored, year_month_day today) {
  const std::string_view value = trim(stored);
  if (!value.starts_with(kRollingPrefix)) return std::string(value);
  if (!today.ok()) return std::nullopt;
  const std::optional<std::int64_t> offset = day_offset(value.substr(kRollingPrefix.size()), today);
  if (!offset) return std::nullopt;
  const std::optional<year_month_day> day = add_days(today, *offset);
  if (!day) return std::nullopt;
  return format_date(*day);
}

std::optional<std::string> resolve_meta_value(std::string_view stored, const TimeZone& zone) {
  return resolve_meta_value(stored, current_local_date(zone));
}

bool meta_matches(const std::map<std::string, std::string>& metas, const MetaFilter& filter,
                  year_month_day today) {
  const auto found = metas.find(filter.key);
  if (found == metas.end()) return false;
  const std::string effective = resolve_meta_value(found->second, today).value_or(found->second);
  if (ascii_iequals(filter.value, "today")) return effective == format_date(today);
  return ascii_iequals(effective, filter.value);
}

bool meta_matches(const std::map<std::string, std::string>& metas, const MetaFilter& filter,
                  const TimeZone& zone) {
  return meta_matches(metas, filter, current_local_date(zone));
}

}  // namespace core
