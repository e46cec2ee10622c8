#include "percentiles.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Nearest rank: the smallest sample at or above fraction `p` of the sorted set.
double rank(const std::vector<double> &sorted, double p)
{
    const auto n = sorted.size();
    auto index = std::size_t(std::ceil(p * double(n)));
    index = std::clamp<std::size_t>(index, 1, n);
    return sorted[index - 1];
}

} // namespace

Summary summarize(std::vector<double> samples)
{
    Summary s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.count = int(samples.size());
    s.median = rank(samples, 0.5);
    s.p95 = rank(samples, 0.95);
    s.p99 = rank(samples, 0.99);
    s.min = samples.front();
    s.max = samples.back();
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / double(samples.size());
    return s;
}
