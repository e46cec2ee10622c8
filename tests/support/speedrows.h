#pragma once

#include "linespeeds.h"

#include <QString>
#include <QTest>

// Rows of a data-driven test: one per line speed a unit may be set to, in a `baud` column.
inline void addLineSpeedRows()
{
    QTest::addColumn<int>("baud");
    for (int baud : unitLineSpeeds)
        QTest::newRow(qPrintable(QString::number(baud))) << baud;
}
