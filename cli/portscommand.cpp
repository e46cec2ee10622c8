// ports: the serial ports the system lists, then the extra device paths of
// VERTAL_EXTRA_PORTS (as the window offers them).
#include "clioptions.h"
#include "commands.h"
#include "exitcodes.h"
#include "output.h"
#include "portnames.h"

#include <QSerialPortInfo>

namespace {

void printPort(const Output &out, const QSerialPortInfo &info)
{
    QJsonObject object{{"name", info.portName()},
                       {"path", info.systemLocation()},
                       {"description", info.description()},
                       {"manufacturer", info.manufacturer()},
                       {"serial", info.serialNumber()}};
    QString text = info.portName() + QLatin1Char('\t') + info.systemLocation();
    if (const QString usb = usbIdText(info); !usb.isEmpty()) {
        object.insert("usb", usb);
        text += QStringLiteral("\tusb %1").arg(usb);
    }
    for (const QString &extra : {info.description(), info.manufacturer()})
        if (!extra.isEmpty())
            text += QLatin1Char('\t') + extra;
    out.result(object, text);
}

} // namespace

int runPorts(const CliOptions &, const Output &out)
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        printPort(out, info);
    for (const QString &path : extraPortPaths())
        out.result(QJsonObject{{"name", path}, {"path", path}, {"description", "extra port"}},
                   path + QLatin1Char('\t') + path + QStringLiteral("\textra port"));
    return ExitDone;
}
