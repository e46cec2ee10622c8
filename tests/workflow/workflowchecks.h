#pragma once

#include "unitbench.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>

// Small readers shared by the workflow tests.

inline QStringList itemsOf(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Names of the window's controls that are enabled now, in a fixed order.
inline QStringList enabledControls(const UnitBench &bench)
{
    static const char *const names[] = {"addr",   "com_port",   "prog",    "current_value",
                                        "a_time", "a_period",   "input",   "start",
                                        "output", "reset_rele", "set_rele"};
    QStringList enabled;
    for (const char *name : names) {
        if (bench.control<QWidget>(name)->isEnabled())
            enabled << QLatin1String(name);
    }
    return enabled;
}

// Descriptors of this process that are open on `device` (the wizard's side of the line).
inline int openDescriptorsOn(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    int count = 0;
    const QFileInfoList fds =
        QDir(QStringLiteral("/proc/self/fd"))
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fd : fds) {
        if (fd.symLinkTarget() == device || (!target.isEmpty() && fd.symLinkTarget() == target))
            ++count;
    }
    return count;
}

// The idle picture of the window.
inline bool looksIdle(const UnitBench &bench)
{
    return bench.startText() == QStringLiteral("Старт") &&
           enabledControls(bench) == QStringList{"addr", "com_port", "start"} &&
           itemsOf(bench.control<QComboBox>("input")).isEmpty() &&
           itemsOf(bench.control<QComboBox>("output")) == QStringList{"Не задано"} &&
           bench.stateText() == QStringLiteral("  ") &&
           bench.control<QLabel>("version")->text().isEmpty() && !bench.window->isPolling();
}
