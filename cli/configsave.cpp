// config save: the unit's address, speed, firmware, board map and every input board's
// alarm relay as one JSON document, on standard output or into --file.
#include "clioptions.h"
#include "commands.h"
#include "configdocument.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"

#include <QJsonDocument>
#include <QSaveFile>

namespace {

// The whole document or nothing: a full disk must not leave half a backup behind.
int saveToFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return ExitDone;
    Output::error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return ExitWriteFailed;
}

} // namespace

int runConfigSave(Session &session, const Output &out)
{
    if (const int code = session.connect())
        return code;
    ConfigDocument document;
    if (const int code = readUnitConfig(session, document))
        return code;
    const QJsonObject json = document.toJson();
    const QString path = session.options().file;
    if (path.isEmpty()) // indented for a person, one line with --json
        return out.result(json, QString::fromUtf8(QJsonDocument(json).toJson()).trimmed());
    if (const int code = saveToFile(path, QJsonDocument(json).toJson()))
        return code;
    return out.result(
        QJsonObject{{"file", path}, {"address", document.address}},
        QStringLiteral("saved the unit at address %1 to %2").arg(document.address).arg(path));
}
