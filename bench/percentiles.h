#pragma once

#include <vector>

// Order statistics of a set of samples.
struct Summary
{
    int count = 0;
    double median = 0;
    double p95 = 0;
    double p99 = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
};

// Nearest-rank percentiles of `samples` (any unit); all zero for an empty set.
Summary summarize(std::vector<double> samples);
