#include "benchreport.h"

#include <cstdio>

void report(const char *key, double value, const char *unit, int decimals)
{
    std::printf("%s\t%.*f\t%s\n", key, decimals, value, unit);
    std::fflush(stdout);
}
