// ports: the serial ports the system lists, then the extra device paths of
// VERTAL_EXTRA_PORTS (as the window offers them). Every JSON object has the same keys, a
// text the system does not know empty: a script reads every port alike.
#include "clioptions.h"
#include "commands.h"
#include "exitcodes.h"
#include "output.h"
#include "portnames.h"

#include <QSerialPortInfo>

namespace {

QJsonObject portJson(const QString &name, const QString &path, const QString &description,
                     const QString &manufacturer, const QString &serial, const QString &usb)
{
    return QJsonObject{{"name", name},
                       {"path", path},
                       {"description", description},
                       {"manufacturer", manufacturer},
                       {"serial", serial},
                       {"usb", usb}};
}

int printPort(const Output &out, const QSerialPortInfo &info)
{
    const QString usb = usbIdText(info);
    const QJsonObject object = portJson(info.portName(), info.systemLocation(), info.description(),
                                        info.manufacturer(), info.serialNumber(), usb);
    QString text = info.portName() + QLatin1Char('\t') + info.systemLocation();
    if (!usb.isEmpty())
        text += QStringLiteral("\tusb %1").arg(usb);
    for (const QString &extra : {info.description(), info.manufacturer()})
        if (!extra.isEmpty())
            text += QLatin1Char('\t') + extra;
    return out.result(object, text);
}

} // namespace

int runPorts(const CliOptions &, const Output &out)
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (const int code = printPort(out, info))
            return code;
    for (const QString &path : extraPortPaths())
        if (const int code =
                out.result(portJson(path, path, QStringLiteral("extra port"), {}, {}, {}),
                           path + QLatin1Char('\t') + path + QStringLiteral("\textra port")))
            return code;
    return ExitDone;
}
