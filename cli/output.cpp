#include "output.h"

#include <QJsonDocument>
#include <cstdio>

void Output::result(const QJsonObject &object, const QString &human) const
{
    const QByteArray line =
        asJson ? QJsonDocument(object).toJson(QJsonDocument::Compact) : human.toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Output::error(const QString &text)
{
    const QByteArray line = "vertal-cli: " + text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}
