#include "stats.hpp"

#include <algorithm>
#include <cmath>

namespace bench {

Summary summarize(std::vector<double> samples_ms) {
  if (samples_ms.empty()) return {};
  std::sort(samples_ms.begin(), samples_ms.end());
  const size_t n = samples_ms.size();
  const double median = (n % 2 == 1) ? samples_ms[n / 2] : (samples_ms[n / 2 - 1] + samples_ms[n / 2]) / 2;
  const auto rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(n)));
  return {median, samples_ms[std::max<size_t>(rank, 1) - 1], n};
}

}  // namespace bench
