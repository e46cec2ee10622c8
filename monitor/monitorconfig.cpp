#include "monitorconfig.h"

#include "linespeeds.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QSysInfo>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace monitor {

namespace {

constexpr qint64 maxConfigBytes = 1024 * 1024;
constexpr int maxClientIdBytes = 65535; // an MQTT string's own bound
constexpr int minPollMs = 100;
constexpr int maxPollMs = 60000;
constexpr int maxAddress = 255;

// A fault found in the document: the key it concerns and what is wrong.
struct Fault
{
    QString key;
    QString text;
};

// Reads one document; the first fault found ends the check.
class ConfigReader
{
public:
    bool read(const QJsonObject &root, MonitorConfig &config);
    QString error() const { return m_fault.key + QLatin1String(": ") + m_fault.text; }

private:
    bool fail(const QString &key, const QString &text);
    bool onlyKnownKeys(const QJsonObject &object, const QString &path, const QStringList &known);
    bool readString(const QJsonObject &object, const QString &path, const char *name, bool required,
                    QString &value);
    bool readBool(const QJsonObject &object, const QString &path, const char *name, bool &value);
    bool readWhole(const QJsonValue &value, const QString &key, int least, int most, int &result);
    bool readBroker(const QJsonObject &object, BrokerSettings &broker);
    bool readUrl(const QString &url, BrokerSettings &broker);
    bool readTopicRoot(const QJsonObject &object, const char *name, bool required, QString &value);
    bool readLines(const QJsonValue &value, QList<LineSettings> &lines);
    bool readLine(const QJsonValue &value, const QString &path, LineSettings &line);
    bool readSpeed(const QJsonValue &value, const QString &key, LineSettings &line);
    bool readUnits(const QJsonValue &value, const QString &key, LineSettings &line);
    bool readUnitRange(const QString &text, const QString &key, LineSettings &line);

    Fault m_fault;
};

QString keyOf(const QString &path, const char *name)
{
    return path.isEmpty() ? QLatin1String(name) : path + QLatin1Char('.') + QLatin1String(name);
}

QString speedList()
{
    QStringList speeds;
    for (const int speed : unitLineSpeeds)
        speeds << QString::number(speed);
    return speeds.join(QLatin1String(", "));
}

QString defaultClientId()
{
    const QString host = QSysInfo::machineHostName();
    return QLatin1String("vertal-") + (host.isEmpty() ? QStringLiteral("monitor") : host);
}

bool ConfigReader::fail(const QString &key, const QString &text)
{
    m_fault = {key, text};
    return false;
}

bool ConfigReader::onlyKnownKeys(const QJsonObject &object, const QString &path,
                                 const QStringList &known)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            return fail(path.isEmpty() ? it.key() : path + QLatin1Char('.') + it.key(),
                        QStringLiteral("unknown key (known here: %1)")
                            .arg(known.join(QLatin1String(", "))));
    }
    return true;
}

bool ConfigReader::readString(const QJsonObject &object, const QString &path, const char *name,
                              bool required, QString &value)
{
    const QJsonValue field = object.value(QLatin1String(name));
    const QString key = keyOf(path, name);
    if (field.isUndefined())
        return !required || fail(key, QStringLiteral("missing"));
    if (!field.isString())
        return fail(key, QStringLiteral("must be a string"));
    if (field.toString().isEmpty())
        return fail(key, QStringLiteral("must not be empty"));
    value = field.toString();
    return true;
}

bool ConfigReader::readBool(const QJsonObject &object, const QString &path, const char *name,
                            bool &value)
{
    const QJsonValue field = object.value(QLatin1String(name));
    if (field.isUndefined())
        return true;
    if (!field.isBool())
        return fail(keyOf(path, name), QStringLiteral("must be true or false"));
    value = field.toBool();
    return true;
}

// Compared as a double first: a value beyond an int's range is never converted.
bool ConfigReader::readWhole(const QJsonValue &value, const QString &key, int least, int most,
                             int &result)
{
    const double number = value.toDouble();
    if (!value.isDouble() || !std::isfinite(number) || number != std::floor(number))
        return fail(key, QStringLiteral("must be a whole number"));
    if (number < least || number > most)
        return fail(key, QStringLiteral("%1 is outside %2..%3")
                             .arg(QString::number(number, 'g', 16))
                             .arg(least)
                             .arg(most));
    result = int(number);
    return true;
}

bool ConfigReader::read(const QJsonObject &root, MonitorConfig &config)
{
    const QStringList known{"mqtt", "poll_ms", "commands", "lines"};
    if (!onlyKnownKeys(root, QString(), known))
        return false;
    const QJsonValue mqtt = root.value(QLatin1String("mqtt"));
    if (mqtt.isUndefined())
        return fail(QStringLiteral("mqtt"), QStringLiteral("missing"));
    if (!mqtt.isObject())
        return fail(QStringLiteral("mqtt"), QStringLiteral("must be an object"));
    if (!readBroker(mqtt.toObject(), config.mqtt))
        return false;
    const QJsonValue pollMs = root.value(QLatin1String("poll_ms"));
    if (!pollMs.isUndefined() &&
        !readWhole(pollMs, QStringLiteral("poll_ms"), minPollMs, maxPollMs, config.pollMs))
        return false;
    return readBool(root, QString(), "commands", config.commands) &&
           readLines(root.value(QLatin1String("lines")), config.lines);
}

bool ConfigReader::readBroker(const QJsonObject &object, BrokerSettings &broker)
{
    const QString path = QStringLiteral("mqtt");
    const QStringList known{"url",      "client_id",     "base_topic", "discovery_prefix",
                            "username", "password_file", "ca_file"};
    if (!onlyKnownKeys(object, path, known) || !readString(object, path, "url", true, broker.url) ||
        !readUrl(broker.url, broker) ||
        !readString(object, path, "client_id", false, broker.clientId) ||
        !readTopicRoot(object, "base_topic", true, broker.baseTopic) ||
        !readTopicRoot(object, "discovery_prefix", false, broker.discoveryPrefix) ||
        !readString(object, path, "username", false, broker.username) ||
        !readString(object, path, "password_file", false, broker.passwordFile) ||
        !readString(object, path, "ca_file", false, broker.caFile))
        return false;
    if (broker.clientId.isEmpty())
        broker.clientId = defaultClientId();
    if (broker.clientId.toUtf8().size() > maxClientIdBytes)
        return fail(QStringLiteral("mqtt.client_id"),
                    QStringLiteral("longer than %1 bytes").arg(maxClientIdBytes));
    if (!broker.passwordFile.isEmpty() && broker.username.isEmpty())
        return fail(QStringLiteral("mqtt.password_file"),
                    QStringLiteral("needs mqtt.username: the broker checks a password against "
                                   "an account"));
    if (!broker.caFile.isEmpty() && !broker.tls)
        return fail(QStringLiteral("mqtt.ca_file"),
                    QStringLiteral("only with an mqtts:// url (mqtt:// is not encrypted)"));
    return true;
}

bool validHostName(const QString &host)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_.-]*)$"));
    return host.size() <= 253 && name.match(host).hasMatch();
}

bool validIpv6(const QString &host)
{
    in6_addr address;
    return inet_pton(AF_INET6, host.toLatin1().constData(), &address) == 1;
}

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT: what is wrong with `text`, empty when nothing is.
// `portText` stays null when no port is named.
QString splitHostPort(const QString &text, QString &host, QString &portText)
{
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || !validIpv6(text.mid(1, close - 1)))
            return QStringLiteral("\"%1\" is not an IPv6 address in brackets")
                .arg(text.left(close < 0 ? text.size() : close + 1));
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return QStringLiteral("nothing but :PORT may follow the host");
        portText = rest.isEmpty() ? QString() : rest.mid(1);
        return QString();
    }
    const int colon = text.indexOf(QLatin1Char(':'));
    host = colon < 0 ? text : text.left(colon);
    if (host.isEmpty())
        return QStringLiteral("names no host");
    if (!validHostName(host))
        return QStringLiteral("\"%1\" is not a host name or address").arg(host);
    portText = colon < 0 ? QString() : text.mid(colon + 1);
    return QString();
}

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT], an IPv6 host in brackets; nothing else.
bool ConfigReader::readUrl(const QString &url, BrokerSettings &broker)
{
    const QString key = QStringLiteral("mqtt.url");
    QString rest;
    if (url.startsWith(QLatin1String("mqtt://"))) {
        rest = url.mid(7);
    } else if (url.startsWith(QLatin1String("mqtts://"))) {
        rest = url.mid(8);
        broker.tls = true;
    } else {
        return fail(key, QStringLiteral("\"%1\" is not mqtt://HOST[:PORT] nor "
                                        "mqtts://HOST[:PORT]")
                             .arg(url));
    }
    broker.port = broker.tls ? 8883 : 1883;
    if (rest.contains(QLatin1Char('@')))
        return fail(key, QStringLiteral("must not hold an account: name it in mqtt.username "
                                        "and the password in mqtt.password_file"));
    static const QRegularExpression trailer(QStringLiteral("[/?#].*$"));
    const QString after = trailer.match(rest).captured();
    if (!after.isEmpty())
        return fail(key, QStringLiteral("nothing may follow HOST[:PORT], found \"%1\"").arg(after));
    if (!rest.startsWith(QLatin1Char('[')) && rest.count(QLatin1Char(':')) > 1)
        return fail(key, QStringLiteral("an IPv6 address goes in brackets: %1[%2]")
                             .arg(url.left(url.indexOf(QLatin1String("//")) + 2), rest));
    QString portText;
    const QString fault = splitHostPort(rest, broker.host, portText);
    if (!fault.isEmpty())
        return fail(key, fault);
    if (portText.isNull())
        return true;
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const int port = portText.toInt();
    if (!digits.match(portText).hasMatch() || port < 1 || port > 65535)
        return fail(key, QStringLiteral("the port \"%1\" is not a number 1..65535").arg(portText));
    broker.port = port;
    return true;
}

bool ConfigReader::readTopicRoot(const QJsonObject &object, const char *name, bool required,
                                 QString &value)
{
    if (!readString(object, QStringLiteral("mqtt"), name, required, value))
        return false;
    const QString key = keyOf(QStringLiteral("mqtt"), name);
    if (value.contains(QLatin1Char('+')) || value.contains(QLatin1Char('#')))
        return fail(key, QStringLiteral("must not hold the wildcards + or #"));
    if (value.startsWith(QLatin1Char('/')) || value.endsWith(QLatin1Char('/')))
        return fail(key, QStringLiteral("must not begin or end with /"));
    if (value.contains(QChar(0)))
        return fail(key, QStringLiteral("must not hold a NUL character"));
    return true;
}

bool ConfigReader::readLines(const QJsonValue &value, QList<LineSettings> &lines)
{
    const QString key = QStringLiteral("lines");
    if (value.isUndefined())
        return fail(key, QStringLiteral("missing"));
    if (!value.isArray())
        return fail(key, QStringLiteral("must be a list of lines"));
    const QJsonArray array = value.toArray();
    if (array.isEmpty())
        return fail(key, QStringLiteral("must name at least one line"));
    for (int i = 0; i < array.size(); ++i) {
        LineSettings line;
        const QString path = QStringLiteral("lines[%1]").arg(i);
        if (!readLine(array.at(i), path, line))
            return false;
        for (int j = 0; j < lines.size(); ++j) {
            if (lines.at(j).name == line.name)
                return fail(path + QLatin1String(".name"),
                            QStringLiteral("\"%1\" is already the name of lines[%2]")
                                .arg(line.name)
                                .arg(j));
            if (lines.at(j).port == line.port)
                return fail(path + QLatin1String(".port"),
                            QStringLiteral("\"%1\" is already the port of lines[%2]")
                                .arg(line.port)
                                .arg(j));
        }
        lines << line;
    }
    return true;
}

bool ConfigReader::readLine(const QJsonValue &value, const QString &path, LineSettings &line)
{
    if (!value.isObject())
        return fail(path, QStringLiteral("must be an object"));
    const QJsonObject object = value.toObject();
    const QStringList known{"name", "port", "speed", "units", "values"};
    if (!onlyKnownKeys(object, path, known) || !readString(object, path, "name", true, line.name))
        return false;
    static const QRegularExpression name(QStringLiteral("^[a-z0-9_-]+$"));
    if (!name.match(line.name).hasMatch())
        return fail(path + QLatin1String(".name"),
                    QStringLiteral("\"%1\" may hold only a-z, 0-9, _ and -").arg(line.name));
    if (!readString(object, path, "port", true, line.port))
        return false;
    if (!readSpeed(object.value(QLatin1String("speed")), path + QLatin1String(".speed"), line))
        return false;
    const QJsonValue units = object.value(QLatin1String("units"));
    return readUnits(units, path + QLatin1String(".units"), line) &&
           readBool(object, path, "values", line.values);
}

bool ConfigReader::readSpeed(const QJsonValue &value, const QString &key, LineSettings &line)
{
    if (value.isUndefined())
        return true;
    const double number = value.toDouble();
    if (!value.isDouble() || number != std::floor(number) || number < 1 ||
        number > unitLineSpeeds.back() || !isUnitLineSpeed(int(number)))
        return fail(key, QStringLiteral("must be one of the unit's speeds: %1").arg(speedList()));
    line.speed = int(number);
    return true;
}

bool ConfigReader::readUnits(const QJsonValue &value, const QString &key, LineSettings &line)
{
    if (value.isUndefined())
        return fail(key, QStringLiteral("missing"));
    if (value.isString())
        return readUnitRange(value.toString(), key, line);
    if (!value.isArray())
        return fail(key, QStringLiteral("must be a list of addresses or a range \"A-B\""));
    const QJsonArray array = value.toArray();
    if (array.isEmpty())
        return fail(key, QStringLiteral("must name at least one address"));
    QSet<int> seen;
    for (int i = 0; i < array.size(); ++i) {
        int address = 0;
        const QString itemKey = QStringLiteral("%1[%2]").arg(key).arg(i);
        if (!readWhole(array.at(i), itemKey, 1, maxAddress, address))
            return false;
        if (seen.contains(address))
            return fail(itemKey, QStringLiteral("address %1 is named twice").arg(address));
        seen.insert(address);
        line.units << address;
    }
    std::sort(line.units.begin(), line.units.end());
    return true;
}

bool ConfigReader::readUnitRange(const QString &text, const QString &key, LineSettings &line)
{
    static const QRegularExpression range(QStringLiteral("^([0-9]{1,3})-([0-9]{1,3})$"));
    const QRegularExpressionMatch match = range.match(text);
    const int first = match.captured(1).toInt();
    const int last = match.captured(2).toInt();
    if (!match.hasMatch() || first < 1 || first > last || last > maxAddress)
        return fail(key, QStringLiteral("\"%1\" is not a range \"A-B\" with 1 <= A <= B <= %2")
                             .arg(text)
                             .arg(maxAddress));
    for (int address = first; address <= last; ++address)
        line.units << address;
    line.unitRange = true;
    return true;
}

// Opened without waiting (a FIFO given as the file must not hang the start) and read only
// when it is a regular file of at most 1 MiB.
bool readBoundedFile(const QString &path, QByteArray &data, QString &error)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("%1: cannot be read (%2)")
                    .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = QStringLiteral("%1: not a regular file").arg(path);
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
        return false;
    }
    data = file.read(maxConfigBytes + 1);
    if (data.size() > maxConfigBytes) {
        error = QStringLiteral("%1: larger than 1 MiB, refused").arg(path);
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QByteArray text = host.toLatin1();
    in_addr v4;
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6;
    return inet_pton(AF_INET6, text.constData(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

} // namespace

bool readMonitorConfig(const QString &path, MonitorConfig &config, QString &error)
{
    QByteArray data;
    if (!readBoundedFile(path, data, error))
        return false;
    return parseMonitorConfig(data, config, error);
}

bool parseMonitorConfig(const QByteArray &json, MonitorConfig &config, QString &error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("JSON: %1 at byte %2")
                    .arg(parseError.errorString())
                    .arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("JSON: the document must be an object");
        return false;
    }
    MonitorConfig read;
    ConfigReader reader;
    if (!reader.read(document.object(), read)) {
        error = reader.error();
        return false;
    }
    config = read;
    return true;
}

QString commandsRefusal(const BrokerSettings &broker)
{
    if (isLoopback(broker.host) || (broker.tls && !broker.username.isEmpty()))
        return QString();
    return QStringLiteral(
               "commands: switching an alarm relay is a security action, so commands need a "
               "broker on the loopback address (127.0.0.1, ::1 or localhost) or one reached "
               "over mqtts:// with mqtt.username; %1 is %2")
        .arg(broker.host, broker.tls ? QStringLiteral("reached without a username")
                                     : QStringLiteral("reached over mqtt://, unencrypted"));
}

} // namespace monitor
