#include "runsettings.h"

#include <QRandomGenerator>

quint32 runSeed(const QString &given)
{
    bool ok = false;
    const QString text = given.isEmpty() ? qEnvironmentVariable("VERTAL_SEED") : given;
    const quint32 seed = text.toUInt(&ok);
    return ok ? seed : QRandomGenerator::system()->generate();
}

int runSeconds(const char *name, int fallback)
{
    bool ok = false;
    const int given = qEnvironmentVariableIntValue(name, &ok);
    return ok && given > 0 ? given : fallback;
}
