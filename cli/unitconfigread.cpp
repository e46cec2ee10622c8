// The unit's settings as config save writes them and config load compares them: what the
// search found, and each input board's alarm relay read from the unit.
#include "commandcodes.h"
#include "commands.h"
#include "configdocument.h"
#include "exitcodes.h"
#include "session.h"

int readUnitConfig(Session &session, ConfigDocument &document)
{
    const unit::FoundUnit &found = session.unit();
    document = ConfigDocument{};
    document.address = found.address;
    document.speed = found.speed;
    document.firmware = QStringLiteral("%1.%2").arg(found.versionMajor).arg(found.versionMinor);
    for (int p = 1; p <= boardPositions; ++p) {
        document.kinds[p] = command::boardKind(found.boardMap, p);
        if (document.kinds[p] != InputBoard)
            continue;
        QByteArray reply = command::readAlarmRele(found.address, p);
        if (const int code =
                session.call(reply, QStringLiteral("reading the alarm relay of board %1").arg(p)))
            return code;
        document.assignment[p] = command::alarmRele(reply);
    }
    return ExitDone;
}
