#pragma once
// Summaries of timing samples.

#include <cstddef>
#include <vector>

namespace bench {

struct Summary {
  double median_ms = 0;
  double p95_ms = 0;
  size_t count = 0;
};

// The median (mean of the two middle samples for an even count) and the
// 95th percentile by nearest rank (the smallest sample with at least 95% of
// the samples at or below it). No samples give all zeros.
Summary summarize(std::vector<double> samples_ms);

}  // namespace bench
