#include "base/ids.hpp"

#include <gtest/gtest.h>

#include <set>

namespace core {
namespace {

using namespace std::chrono;

TEST(Ids, IdentifiersHaveTheFixedFormAndAreDistinctInATightLoop) {
  std::set<std::string> seen;
  for (int i = 0; i < 20000; ++i) {
    std::string id = new_note_id();
    ASSERT_EQ(id.size(), 24u) << id;
    ASSERT_TRUE(id[0] >= 'a' && id[0] <= 'z') << id;
    for (char c : id.substr(1)) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) << id;
    ASSERT_TRUE(seen.insert(id).second) << "repeated: " << id;
  }
}

TEST(Ids, TimestampFractionTakesTheShortestExactWidth) {
  const sys_time<nanoseconds> base = sys_days{2024y / 5 / 28} + 9h + 30min + 12s;
  struct Case { nanoseconds offset; std::string_view want; };
  for (const Case& c : {Case{0ns, "2024-05-28T09:30:12+00:00"}, Case{500ms, "2024-05-28T09:30:12.500+00:00"},
                        Case{1us, "2024-05-28T09:30:12.000001+00:00"},
                        Case{100ns, "2024-05-28T09:30:12.000000100+00:00"},
                        Case{123456700ns, "2024-05-28T09:30:12.123456700+00:00"}})
    EXPECT_EQ(format_timestamp(base + c.offset), c.want) << c.offset.count() << "ns";
  EXPECT_EQ(format_timestamp(sys_days{1999y / 12 / 31} + 23h + 59min + 59s + 999ms),
            "1999-12-31T23:59:59.999+00:00");
}

TEST(Ids, TimestampsSortAsTextInTimeOrder) {
  // Each width of fraction against the next instant, and a whole second
  // (no fraction at all) against the instants just before and after it.
  const sys_time<nanoseconds> base = sys_days{2024y / 5 / 28} + 9h + 30min + 12s;
  std::vector<std::string> texts;
  for (nanoseconds at : std::initializer_list<nanoseconds>{-1ns, 0ns, 100ns, 1us, 1001ns, 500ms, 999999999ns, 1s})
    texts.push_back(format_timestamp(base + at));
  EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end())) << testing::PrintToString(texts);
  std::string now = now_timestamp();
  EXPECT_TRUE(now.ends_with("+00:00")) << now;
}

}  // namespace
}  // namespace core
