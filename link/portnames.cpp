#include "portnames.h"

#include "networkportname.h"

#include <QSerialPortInfo>
#include <algorithm>

QStringList extraPortPaths(const QString &list)
{
    QStringList entries;
    qsizetype from = 0;
    while (from < list.size()) {
        const auto isSeparator = [](QChar c) {
            return c == QLatin1Char(':') || c == QLatin1Char(';');
        };
        qsizetype end = std::max(networkPortNameEnd(list, from), from);
        while (end < list.size() && !isSeparator(list.at(end)))
            ++end;
        if (end > from)
            entries << list.mid(from, end - from);
        from = end + 1; // past the separator
    }
    return entries;
}

QStringList extraPortPaths()
{
    return extraPortPaths(qEnvironmentVariable("VERTAL_EXTRA_PORTS"));
}

QString usbIdText(const QSerialPortInfo &info)
{
    if (!info.hasVendorIdentifier() || !info.hasProductIdentifier())
        return QString();
    auto hex4 = [](quint16 value) {
        return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
    };
    return hex4(info.vendorIdentifier()) + QLatin1Char(':') + hex4(info.productIdentifier());
}
