#include "windowchecks.h"

#include "unitbench.h"
#include "workflowtexts.h"

#include <QAccessible>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>

QStringList itemsOf(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QStringList enabledControls(const UnitBench &bench)
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

bool looksIdle(const UnitBench &bench)
{
    return bench.startText() == workflow::startText &&
           enabledControls(bench) == QStringList{"addr", "com_port", "start"} &&
           itemsOf(bench.control<QComboBox>("input")).isEmpty() &&
           itemsOf(bench.control<QComboBox>("output")) == QStringList{workflow::noRelayText} &&
           bench.stateText() == QStringLiteral("  ") &&
           bench.control<QLabel>("version")->text().isEmpty() && !bench.window->isPolling();
}

QStringList windowMessages()
{
    return {
        workflow::exchangeFailedText,
        workflow::noUnitText,
        workflow::noBoardsText,
        workflow::noInputBoardsText,
        workflow::onTimeNotAbovePeriodText,
        workflow::noRelayChosenText,
        workflow::portOpenFailedText,
    };
}

QDialog *openValueDialog()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    return dialog && dialog->objectName() == QLatin1String("Dialog") && dialog->isVisible()
               ? dialog
               : nullptr;
}

QString shownValue(const QDialog *dialog)
{
    return dialog->findChild<QLabel *>(QStringLiteral("value"))->text();
}

void setCaseOpen(UnitBench &bench, bool open)
{
    bench.unit.modify([&](UnitState &s) { s.caseOpen = open; });
}

int openDescriptorsOn(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    int count = 0;
    const QFileInfoList fds =
        QDir(QStringLiteral("/proc/self/fd"))
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fd : fds) {
        const QString target = fd.symLinkTarget();
        // A node that has gone reads "<path> (deleted)".
        if (target == device || target.startsWith(device + QLatin1Char(' ')) ||
            (!canonical.isEmpty() && target == canonical))
            ++count;
    }
    return count;
}

namespace {
QList<const QObject *> describedObjects;

void recordDescriptionChange(QAccessibleEvent *event)
{
    if (event->type() == QAccessible::DescriptionChanged)
        describedObjects << event->object();
}
} // namespace

ScreenReaderLog::ScreenReaderLog()
{
    describedObjects.clear();
    QAccessible::installUpdateHandler(recordDescriptionChange);
    // As when a screen reader is running: the platform's accessibility is active (it never
    // is on the offscreen platform otherwise), so events reach the update handler.
    if (QPlatformAccessibility *platform = QGuiApplicationPrivate::platformIntegration()->accessibility())
        platform->setActive(true);

}

ScreenReaderLog::~ScreenReaderLog()
{
    if (QPlatformAccessibility *platform = QGuiApplicationPrivate::platformIntegration()->accessibility())
        platform->setActive(false);
    QAccessible::installUpdateHandler(nullptr);
}

int ScreenReaderLog::count(const QObject *object) const
{
    return int(describedObjects.count(object));
}

void ScreenReaderLog::clear()
{
    describedObjects.clear();
}
