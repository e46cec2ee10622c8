// config load F [--dry-run]: the document is read (at most 1 MiB) before the port is opened,
// and checked against the unit before anything is written (board kinds by position, relays naming
// relay boards, the window's limits); then board by board, only the boards that differ are written,
// each read back and compared. A load cut short names what it wrote: loading the same document
// again completes it.
#include "clioptions.h"
#include "commandcodes.h"
#include "commands.h"
#include "configdocument.h"
#include "describe.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"

#include <QFile>
#include <QStringList>

namespace {

bool same(const command::AlarmRele &a, const command::AlarmRele &b)
{
    return a.relay == b.relay && a.onTime == b.onTime && a.period == b.period;
}

QJsonObject releJson(const command::AlarmRele &a)
{
    return QJsonObject{{"relay", a.relay}, {"time", a.onTime}, {"period", a.period}};
}

// "relay 2 for 30 s every 10 s", "none (time 0 s, period 0 s)".
QString releText(int board, const command::AlarmRele &a)
{
    const QString text =
        alarmReleText(board, a.relay, a.onTime, a.period).section(QLatin1String(": "), 1);
    return a.relay == 0 ? text : QStringLiteral("relay ") + text;
}

// A document is a few hundred bytes: a file beyond this is none, whatever it holds.
constexpr qint64 maxDocumentBytes = 1024 * 1024;

// Reads at most maxDocumentBytes + 1 bytes of `file` (a device without end, /dev/zero, too):
// false with `error` set when it holds more, or cannot be read.
bool readBounded(QFile &file, QByteArray &bytes, QString &error)
{
    bytes.resize(maxDocumentBytes + 1);
    qint64 held = 0;
    while (held < bytes.size()) {
        const qint64 got = file.read(bytes.data() + held, bytes.size() - held);
        if (got < 0) {
            error = file.errorString();
            return false;
        }
        if (got == 0)
            break;
        held += got;
    }
    bytes.truncate(held);
    if (held > maxDocumentBytes)
        error = QStringLiteral("larger than 1 MiB: no configuration document (they are a few "
                               "hundred bytes)");
    return error.isEmpty();
}

// One board's line: what the unit holds, what the document has, and what was done.
int reportBoard(const Output &out, int board, const command::AlarmRele &held,
                const command::AlarmRele &wanted, const QString &action)
{
    QJsonObject object{{"board", board},
                       {"action", action},
                       {"unit", releJson(held)},
                       {"document", releJson(wanted)}};
    const QString text =
        same(held, wanted)
            ? QStringLiteral("board %1: %2 (unchanged)").arg(board).arg(releText(board, held))
            : QStringLiteral("board %1: %2 -> %3 (%4)")
                  .arg(board)
                  .arg(releText(board, held), releText(board, wanted), action);
    return out.result(object, text);
}

// Writes one board and reads it back. ExitDone, ExitRefused (said: the unit holds something
// else) or the failed exchange's code.
int writeBoard(Session &session, int board, const command::AlarmRele &wanted)
{
    const int address = session.unit().address;
    QByteArray write =
        command::setAlarmRele(address, board, wanted.relay, wanted.onTime, wanted.period);
    if (const int code =
            session.call(write, QStringLiteral("setting the alarm relay of board %1").arg(board)))
        return code;
    QByteArray reply = command::readAlarmRele(address, board);
    if (const int code = session.call(
            reply, QStringLiteral("reading the alarm relay of board %1 back").arg(board)))
        return code;
    const command::AlarmRele held = command::alarmRele(reply);
    if (same(held, wanted))
        return ExitDone;
    Output::error(QStringLiteral("board %1: the unit did not store %2; it reads back %3")
                      .arg(board)
                      .arg(releText(board, wanted), releText(board, held)));
    return ExitRefused;
}

// After a failed exchange: which boards the load wrote, and which it did not.
void reportCutShort(const QStringList &written, const QStringList &left)
{
    Output::error(
        QStringLiteral("the load stopped: written and read back: %1; not done: %2 "
                       "(a write may have reached the unit; load the document again)")
            .arg(written.isEmpty() ? QStringLiteral("none") : written.join(", "), left.join(", ")));
}

// Every input board in turn; the boards that differ are written unless this is a dry run.
int loadBoards(Session &session, const Output &out, const ConfigDocument &wanted,
               const ConfigDocument &held)
{
    const bool dryRun = session.options().dryRun;
    QStringList written, left, refused;
    for (int p = 1; p <= boardPositions; ++p)
        if (wanted.kinds[p] == InputBoard && !same(wanted.assignment[p], held.assignment[p]))
            left << QString::number(p);
    for (int p = 1; p <= boardPositions; ++p) {
        if (wanted.kinds[p] != InputBoard)
            continue;
        const bool differs = !same(wanted.assignment[p], held.assignment[p]);
        QString action = differs ? QStringLiteral("would write") : QStringLiteral("unchanged");
        if (differs && !dryRun) {
            const int code = writeBoard(session, p, wanted.assignment[p]);
            if (code != ExitDone && code != ExitRefused) {
                reportCutShort(written, left);
                return code;
            }
            left.removeOne(QString::number(p));
            (code == ExitDone ? written : refused) << QString::number(p);
            action = code == ExitDone ? QStringLiteral("written") : QStringLiteral("refused");
        }
        if (const int code = reportBoard(out, p, held.assignment[p], wanted.assignment[p], action))
            return code;
    }
    return refused.isEmpty() ? ExitDone : ExitRefused;
}

} // namespace

int runConfigLoad(Session &session, const ConfigDocument &wanted, const Output &out)
{
    if (const int code = session.connect())
        return code;
    const QStringList misfits = configMisfits(wanted, session.unit().boardMap);
    if (!misfits.isEmpty()) {
        Output::error(QStringLiteral("the document does not fit the unit (boards: %1); nothing "
                                     "written:\n  %2")
                          .arg(boardsText(session.unit().boardMap), misfits.join("\n  ")));
        return ExitRefused;
    }
    ConfigDocument held;
    if (const int code = readUnitConfig(session, held))
        return code;
    return loadBoards(session, out, wanted, held);
}

int readConfigFile(const QString &path, ConfigDocument &document)
{
    QFile file(path);
    QString error;
    QByteArray bytes;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        error = file.errorString();
    else if (readBounded(file, bytes, error))
        readConfigDocument(bytes, document, error);
    if (error.isEmpty())
        return ExitDone;
    Output::error(QStringLiteral("cannot load %1: %2").arg(path, error));
    return ExitUsage;
}
