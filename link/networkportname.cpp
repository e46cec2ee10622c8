#include "networkportname.h"

namespace {

const QString rfc2217Scheme = QStringLiteral("rfc2217://");
const QString tcpScheme = QStringLiteral("tcp://");

// The length of the scheme that `text` has at `from`, 0 when none.
qsizetype schemeLength(const QString &text, qsizetype from)
{
    for (const QString &scheme : {rfc2217Scheme, tcpScheme}) {
        if (QStringView(text).mid(from).startsWith(scheme, Qt::CaseInsensitive))
            return scheme.size();
    }
    return 0;
}

// Where the HOST:PORT starting at `from` ends: after a bracketed host (its ':' are its
// own) or at the first ':', then after the port's digits.
qsizetype hostPortEnd(const QString &text, qsizetype from)
{
    qsizetype colon = -1;
    if (from < text.size() && text.at(from) == QLatin1Char('[')) {
        const qsizetype close = text.indexOf(QLatin1Char(']'), from);
        colon = close < 0 ? -1 : close + 1;
    } else {
        colon = text.indexOf(QLatin1Char(':'), from);
    }
    if (colon < 0 || colon >= text.size())
        return text.size();
    qsizetype end = colon + 1;
    while (end < text.size() && text.at(end).isDigit())
        ++end;
    return end;
}

} // namespace

NetworkPortName parseNetworkPortName(const QString &name)
{
    NetworkPortName parsed;
    const qsizetype scheme = schemeLength(name, 0);
    if (scheme == 0)
        return parsed;
    parsed.kind = NetworkPortName::Invalid;
    const QString rest = name.mid(scheme);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return parsed;
    QString host = rest.left(colon);
    if (host.startsWith(QLatin1Char('[')) != host.endsWith(QLatin1Char(']')))
        return parsed;
    if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1, host.size() - 2);
    // An IPv6 address needs its brackets: "::1:2000" could be read two ways.
    else if (host.contains(QLatin1Char(':')))
        return parsed;
    bool ok = false;
    const uint port = rest.mid(colon + 1).toUInt(&ok);
    if (host.isEmpty() || !ok || port == 0 || port > 65535)
        return parsed;
    parsed.kind =
        scheme == rfc2217Scheme.size() ? NetworkPortName::Rfc2217 : NetworkPortName::RawTcp;
    parsed.host = host;
    parsed.port = quint16(port);
    return parsed;
}

qsizetype networkPortNameEnd(const QString &list, qsizetype from)
{
    const qsizetype scheme = schemeLength(list, from);
    return scheme == 0 ? -1 : hostPortEnd(list, from + scheme);
}
