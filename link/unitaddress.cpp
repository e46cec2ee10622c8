#include "unitaddress.h"

#include <QRegularExpression>

int parseUnitAddress(const QString &text)
{
    // QString::toInt alone would also take signs, spaces and (base 0) octal.
    static const QRegularExpression form(
        QStringLiteral("^(?:0[xX]([0-9A-Fa-f]{1,4})|([0-9]{1,5}))$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return -1;
    const bool hex = match.capturedLength(1) > 0;
    const int value = (hex ? match.captured(1) : match.captured(2)).toInt(nullptr, hex ? 16 : 10);
    return value <= maxUnitAddress ? value : -1;
}
