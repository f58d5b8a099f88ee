#include "meta/meta_dates.hpp"

#include "base/process.hpp"
#include "testing/platform.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

namespace core {
namespace {

using namespace std::chrono;

constexpr year_month_day kWednesday = 2024y / June / 5;

// Sets TZ for one test and puts the old value back.
class ScopedTz {
 public:
  explicit ScopedTz(const char* value) {
    old_ = environment_variable("TZ");
    testing::set_env("TZ", value ? std::optional<std::string>(value) : std::nullopt);
    tzset();
  }
  ~ScopedTz() {
    testing::set_env("TZ", old_);
    tzset();
  }
 private:
  std::optional<std::string> old_;
};

TEST(MetaDates, RollingExpressionsResolveAgainstToday) {
  struct Case { std::string_view stored; std::optional<std::string_view> want; };
  const Case cases[] = {
      {"rolling:today", "2024-06-05"},      {"rolling:tomorrow", "2024-06-06"},
      {"rolling:yesterday", "2024-06-04"},  {"rolling:next-monday", "2024-06-10"},
      {"rolling:+0d", "2024-06-05"},        {"rolling:-0d", "2024-06-05"},
      {"rolling:+3d", "2024-06-08"},        {"rolling:+3dd", "2024-06-08"},
      {"rolling:+03d", "2024-06-08"},       {"rolling:++2d", "2024-06-07"},
      {"rolling:+-2d", "2024-06-03"},       {"rolling:-+2d", "2024-06-03"},
      {"rolling:--2d", "2024-06-03"},       {"rolling:+26d", "2024-07-01"},
      {"rolling:-366d", "2023-06-05"},      {" \u00A0rolling:today\t", "2024-06-05"},
      {"rolling:", std::nullopt},           {"rolling:+d", std::nullopt},
      {"rolling:-d", std::nullopt},         {"rolling:+3 d", std::nullopt},
      {"rolling:+ 3d", std::nullopt},       {"rolling: today", std::nullopt},
      {"rolling:Tomorrow", std::nullopt},   {"rolling:+3D", std::nullopt},
      {"rolling:+3", std::nullopt},         {"rolling:+-+2d", std::nullopt},
      {"rolling:+x3d", std::nullopt},       {"rolling:d", std::nullopt},
      {"ROLLING:today", "ROLLING:today"},   {"  done ", "done"},
      {"", ""},                             {"2024-06-05", "2024-06-05"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(resolve_meta_value(c.stored, kWednesday), c.want) << "stored: '" << c.stored << "'";
}

TEST(MetaDates, WeekdaysAndTheEdgesOfTheCalendar) {
  struct Case { year_month_day today; std::string_view stored; std::optional<std::string_view> want; };
  const Case cases[] = {
      {2024y / June / 3, "rolling:next-monday", "2024-06-10"},  // a Monday: a week later
      {2024y / June / 9, "rolling:next-monday", "2024-06-10"},  // a Sunday: the next day
      {2024y / December / 30, "rolling:next-monday", "2025-01-06"},
      {kWednesday, "rolling:-739407d", "0000-01-01"},
      {kWednesday, "rolling:-739408d", std::nullopt},
      {kWednesday, "rolling:+9223372036854775807d", std::nullopt},
      {kWednesday, "rolling:+-9223372036854775808d", std::nullopt},
      {kWednesday, "rolling:-9223372036854775808d", std::nullopt},  // N itself does not fit
      {kWednesday, "rolling:+99999999999999999999d", std::nullopt},
      {9999y / December / 30, "rolling:+1d", "9999-12-31"},
      {9999y / December / 31, "rolling:tomorrow", std::nullopt},
      {9999y / December / 31, "rolling:next-monday", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(resolve_meta_value(c.stored, c.today), c.want) << format_date(c.today) << " " << c.stored;
}

TEST(MetaDates, FiltersCompareTheEffectiveValue) {
  struct Case { std::string_view stored, filter; bool want; };
  const Case cases[] = {
      {"done", "DONE", true},
      {" done ", "done", true},
      {"2024-06-05", "today", true},
      {"2024-06-05", "TODAY", true},
      {"rolling:today", "Today", true},
      {"rolling:tomorrow", "2024-06-06", true},
      {"rolling:+3d", "2024-06-08", true},
      {"rolling:-1d", "today", false},
      {"rolling:next-monday", "2024-06-10", true},
      {"rolling:Tomorrow", "rolling:tomorrow", true},  // unresolved: the stored text, ASCII case ignored
      {"rolling:+3D", "today", false},
      {"rolling:", "rolling:", true},
      {" rolling:bad ", "rolling:bad", false},  // unresolved values are compared untrimmed
      {"today", "today", false},                // the filter asks for a date, not the word
      {"tomorrow", "tomorrow", true},           // the filter value is never resolved
      {"rolling:today", "rolling:today", false},
      {"Ärger", "äRGER", false},                // only ASCII letters fold
      {"Ärger", "ÄRGER", true},
      {"done", "done ", false},
  };
  for (const Case& c : cases) {
    const std::map<std::string, std::string> metas = {{"status", std::string(c.stored)}};
    EXPECT_EQ(meta_matches(metas, {"status", std::string(c.filter)}, kWednesday), c.want)
        << "stored '" << c.stored << "', filter '" << c.filter << "'";
  }
}

TEST(MetaDates, FilterKeysAreExact) {
  const std::map<std::string, std::string> metas = {{"status", "draft"}, {"", "x"}};
  for (std::string_view key : {"Status", "due", "status "})
    EXPECT_FALSE(meta_matches(metas, {std::string(key), "draft"}, kWednesday)) << key;
  EXPECT_TRUE(meta_matches(metas, {"", "X"}, kWednesday));
  EXPECT_FALSE(meta_matches({{"status", "draft"}}, {"", ""}, kWednesday));
}

// The local date at instants where zones change their offset, from the
// database the platform reads (Linux: the system's zoneinfo; Windows: the
// IANA files shipped beside the program): the same table everywhere.
TEST(MetaDates, ZoneDatesAtTheirChangesAreTheSameOnEveryPlatform) {
  struct Case { std::string_view zone; sys_seconds instant; year_month_day day; };
  const Case cases[] = {
      {"Europe/Berlin", sys_days{2024y / March / 30} + 23h + 30min, 2024y / March / 31},     // CET, +1
      {"Europe/Berlin", sys_days{2024y / October / 26} + 22h + 30min, 2024y / October / 27},  // CEST, +2
      {"America/New_York", sys_days{2024y / March / 10} + 4h + 59min, 2024y / March / 9},    // EST, -5
      {"US/Eastern", sys_days{2024y / March / 10} + 4h + 59min, 2024y / March / 9},          // a link name
      {"Asia/Kolkata", sys_days{2024y / June / 5} + 18h + 29min, 2024y / June / 5},           // +5:30
      {"Asia/Kolkata", sys_days{2024y / June / 5} + 18h + 30min, 2024y / June / 6},
      {"Australia/Lord_Howe", sys_days{2024y / April / 6} + 13h + 15min, 2024y / April / 7},  // +11 until 15:00 UTC
      {"Pacific/Apia", sys_days{2011y / December / 30} + 9h + 59min, 2011y / December / 29},  // -10, then
      {"Pacific/Apia", sys_days{2011y / December / 30} + 10h, 2011y / December / 31},         // +14: a day skipped
      {"Etc/GMT-14", sys_days{2024y / June / 5} + 10h, 2024y / June / 6},
  };
  for (const Case& c : cases) {
    const std::optional<TimeZone> zone = TimeZone::find(c.zone);
    ASSERT_TRUE(zone) << c.zone;
    EXPECT_EQ(zone->date_at(c.instant), c.day) << c.zone << " at " << c.instant.time_since_epoch().count();
  }
}

TEST(MetaDates, LocalZoneComesFromTz) {
  // 10:30 UTC is already the next day on Kiritimati (UTC+14) and still the
  // previous day in Pago Pago (UTC-11).
  const auto instant = sys_days{2024y / June / 5} + 10h + 30min;
  struct Case { const char* tz; std::string_view name; year_month_day day; };
  for (const Case& c : {Case{"Pacific/Kiritimati", "Pacific/Kiritimati", 2024y / June / 6},
                        Case{":Pacific/Kiritimati", "Pacific/Kiritimati", 2024y / June / 6},
                        Case{"Pacific/Pago_Pago", "Pacific/Pago_Pago", 2024y / June / 4},
                        Case{"pacific/kiritimati", "UTC", 2024y / June / 5},  // names are exact
                        Case{"Nowhere/Land", "UTC", 2024y / June / 5},
                        Case{"", "UTC", 2024y / June / 5}}) {
    ScopedTz tz(c.tz);
    const TimeZone zone = local_time_zone();
    EXPECT_EQ(zone.name(), c.name) << "TZ='" << c.tz << "'";
    EXPECT_EQ(zone.date_at(instant), c.day) << "TZ='" << c.tz << "'";
  }
  ScopedTz unset(nullptr);  // the system's setting, whatever it is here
  EXPECT_FALSE(local_time_zone().name().empty());
}

}  // namespace
}  // namespace core
