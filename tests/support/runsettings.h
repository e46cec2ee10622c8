#pragma once

#include <QString>
#include <QtGlobal>

// What a seeded or timed run takes from its environment, read the same way everywhere.

// The seed of a random run: `given` when it is a number, else VERTAL_SEED when that is one,
// else a fresh random seed. Printing it lets VERTAL_SEED replay the run.
quint32 runSeed(const QString &given = QString());
// Seconds from the variable `name` when it holds a positive number, else `fallback`.
int runSeconds(const char *name, int fallback);
