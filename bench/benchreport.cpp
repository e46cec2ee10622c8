#include "benchreport.h"

#include <cstdio>

void report(const char *key, double value, const char *unit, int decimals)
{
    std::printf("%s\t%.*f\t%s\n", key, decimals, value, unit);
    std::fflush(stdout);
}

int intOption(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}
