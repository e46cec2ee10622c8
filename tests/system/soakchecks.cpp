#include "soakchecks.h"

#include "ccomport.h"
#include "soakrig.h"
#include "windowchecks.h"
#include "workflowtexts.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QSpinBox>
#include <QTextStream>
#include <cstdio>

namespace {

constexpr int violationsShown = 30;

bool valueDialogVisible()
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->isVisible() && qstrcmp(top->metaObject()->className(), "Dialog") == 0)
            return true;
    return false;
}

} // namespace

void SoakChecks::afterStep(bool quiet)
{
    checkFrames();
    checkAlways();
    if (quiet)
        checkQuiet();
}

void SoakChecks::checkFrames()
{
    const QList<ReceivedFrame> frames = rig.server.receivedFrames();
    for (qsizetype i = frameCount; i < frames.size(); ++i) {
        const ReceivedFrame &frame = frames.at(i);
        if (!frame.wellFormed || !frame.checkOk || frame.interleaved)
            violation(QStringLiteral("the unit received a bad frame \"%1\"%2")
                          .arg(QString::fromLatin1(frame.raw.toPercentEncoding()),
                               frame.interleaved ? QStringLiteral(" (interleaved)") : QString()));
    }
    frameCount = int(frames.size());
}

void SoakChecks::checkAlways()
{
    if (cComPort::exchangesRefused() != refusedSeen) {
        violation(QStringLiteral("a second exchange was started on a worker with one in flight"));
        refusedSeen = cComPort::exchangesRefused();
    }
    if (!rig.window->isPolling())
        return;
    if (rig.startText() != QStringLiteral("Стоп"))
        violation(
            QStringLiteral("the poll runs while the button reads \"%1\"").arg(rig.startText()));
    if (!rig.window->pollWorker())
        violation(QStringLiteral("the poll runs without a poll worker"));
    if (valueDialogVisible())
        violation(QStringLiteral("the poll runs while the value dialog is open"));
}

void SoakChecks::checkQuiet()
{
    ++quietCount;
    const bool connected = rig.startText() == QStringLiteral("Стоп");
    if (connected) {
        checkConnectionAtRest();
        checkContents();
        return;
    }
    halfEnded.clear();
    if (rig.window->isPolling())
        violation(QStringLiteral("idle, yet the poll runs"));
    if (!rig.items("input").isEmpty())
        violation(
            QStringLiteral("idle with input boards listed: %1").arg(rig.items("input").join(',')));
    if (rig.items("output") != QStringList{workflow::noRelayText})
        violation(QStringLiteral("idle with relay items: %1").arg(rig.items("output").join(',')));
    if (!rig.control<QLabel>("version")->text().isEmpty())
        violation(QStringLiteral("idle with a version shown"));
    if (rig.control<QLabel>("state")->text() != QStringLiteral("  "))
        violation(
            QStringLiteral("idle with status \"%1\"").arg(rig.control<QLabel>("state")->text()));
}

// A failed exchange releases the workers and stops the poll, processing events, before
// its box and the idle picture: a step that lands in there sees "Стоп" over a connection
// already ended, which the operation puts right at once. What stays so until the next calm
// step is a connection left half-ended.
void SoakChecks::checkConnectionAtRest()
{
    QStringList found;
    if (!rig.window->isPolling())
        found << QStringLiteral("\"Стоп\" shown, nothing going on, yet no poll");
    if (!rig.window->pollWorker() || !rig.window->primaryWorker())
        found << QStringLiteral("\"Стоп\" shown without both workers");
    for (const QString &what : found) {
        if (halfEnded.contains(what))
            violation(what);
    }
    halfEnded = found;
}

void SoakChecks::checkContents()
{
    const QStringList differences = contentDifferences();
    if (!repliesTrusted) {
        ++untrustedCount;
        differingCount += !differences.isEmpty();
        return;
    }
    ++judgedCount;
    for (const QString &difference : differences)
        violation(difference);
}

// How the board lists and the version shown differ from the unit's own.
QStringList SoakChecks::contentDifferences() const
{
    QStringList differences;
    const UnitState unit = rig.unit.state();
    const QString version =
        QStringLiteral("Версия прошивки : %1.%2").arg(unit.versionMajor).arg(unit.versionMinor);
    // Nothing typed into the relay box joins its list, Enter or not.
    const QStringList outputs = QStringList{workflow::noRelayText} + rig.unitBoards(2);
    if (rig.items("input") != rig.unitBoards(1))
        differences << QStringLiteral("input boards %1, the unit has %2")
                           .arg(rig.items("input").join(','), rig.unitBoards(1).join(','));
    if (rig.items("output") != outputs)
        differences << QStringLiteral("relay items %1, the unit has %2")
                           .arg(rig.items("output").join(','), outputs.join(','));
    if (rig.control<QSpinBox>("addr")->value() != unit.address)
        differences << QStringLiteral("address %1, the unit's is %2")
                           .arg(rig.control<QSpinBox>("addr")->value())
                           .arg(unit.address);
    if (rig.control<QLabel>("version")->text() != version)
        differences << QStringLiteral("version \"%1\", the unit's is %2")
                           .arg(rig.control<QLabel>("version")->text(), version);
    return differences;
}

void SoakChecks::boxSeen(const QString &title, const QString &text)
{
    static const QStringList messages = windowMessages();
    ++boxCount;
    if (title != workflow::messageTitle || !messages.contains(text))
        violation(QStringLiteral("a box \"%1\": \"%2\"").arg(title, text));
}

void SoakChecks::violation(const QString &what)
{
    ++violationCount;
    if (shown.size() < violationsShown) {
        shown << what;
        std::fprintf(stderr, "soak: VIOLATION %d: %s\n", violationCount, qPrintable(what));
    }
}
