#pragma once

// Results go to standard output one per line, "key<TAB>value<TAB>unit", so that
// scripts/bench.sh can put the figures of every benchmark into one table. Notes for the
// reader go to standard error.

#include <QString>
#include <QStringList>

// The number after option `name` in `args`, `fallback` when it is not given.
int intOption(const QStringList &args, const QString &name, int fallback);

// Prints one figure, `decimals` places after the point.
void report(const char *key, double value, const char *unit, int decimals = 1);
