#include "portnames.h"

#include <QSerialPortInfo>

QStringList extraPortPaths(const QString &list)
{
    return list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
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
