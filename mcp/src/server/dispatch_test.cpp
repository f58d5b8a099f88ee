#include "server/dispatch.hpp"

#include "testing/scoped_env.hpp"

#include <gtest/gtest.h>

namespace mcp {
namespace {

TEST(CallDeadline, ComesFromTheEnvironmentWithinItsRange) {
  using std::chrono::milliseconds;
  core::testing::ScopedEnv env;
  env.unset("BRASK_TOLVANE_DEADLINE_MS");
  EXPECT_EQ(call_deadline(), milliseconds(10000));
  struct Case { std::string value; milliseconds want; };
  for (const Case& c : {Case{"1", milliseconds(1)}, Case{"250", milliseconds(250)},
                        Case{"86400000", milliseconds(86400000)}, Case{"86400001", milliseconds(10000)},
                        Case{"0", milliseconds(10000)}, Case{"-5", milliseconds(10000)}, Case{"", milliseconds(10000)},
                        Case{"5s", milliseconds(10000)}, Case{" 5", milliseconds(10000)},
                        Case{"99999999999999999999", milliseconds(10000)}}) {
    env.set("BRASK_TOLVANE_DEADLINE_MS", c.value);
    EXPECT_EQ(call_deadline(), c.want) << "'" << c.value << "'";
  }
}

}  // namespace
}  // namespace mcp
