#include "portopenfailure.h"

#include "networkportname.h"
#include "workflowtexts.h"

#include <QCoreApplication>
#include <QMessageBox>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#endif

void showPortOpenFailure(const QString &advice)
{
    QMessageBox box(QMessageBox::Critical, workflow::messageTitle, workflow::portOpenFailedText,
                    QMessageBox::Yes);
    box.setInformativeText(advice);
    box.exec();
}

QString deviceGroup(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info
    {
    };
    if (::stat(path.toLocal8Bit().constData(), &info) != 0)
        return QString();
    // Joining root's group is no advice to give anybody.
    if (info.st_gid == 0)
        return QString();
    if (const group *owner = ::getgrgid(info.st_gid))
        return QString::fromLocal8Bit(owner->gr_name);
#else
    Q_UNUSED(path);
#endif
    return QString();
}

QString portOpenAdvice(SerialPort::Error kind, const QString &path, const QString &reason)
{
    const QString because = reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
    switch (kind) {
    case SerialPort::Permission: {
        const QString group = deviceGroup(path);
        if (group.isEmpty())
            return QCoreApplication::translate(
                       "MainWindow", "Нет прав на порт %1%2.\nЗапустите программу от имени "
                                     "пользователя с доступом к порту.")
                .arg(path, because);
        return QCoreApplication::translate("MainWindow",
                                           "Нет прав на порт %1%2.\nДобавьте себя в группу %3:\n"
                                           "    sudo usermod -aG %3 $USER\n"
                                           "затем выйдите из системы и войдите снова.")
            .arg(path, because, group);
    }
    case SerialPort::Busy:
        return QCoreApplication::translate(
                   "MainWindow", "Порт %1 занят другой программой%2.\nЗакройте её и нажмите "
                                 "«Старт» снова.")
            .arg(path, because);
    case SerialPort::NotFound:
        if (parseNetworkPortName(path).kind == NetworkPortName::Invalid)
            return QCoreApplication::translate(
                       "MainWindow", "Неверное имя сетевого порта %1%2: нужно "
                                     "rfc2217://адрес:порт или tcp://адрес:порт.")
                .arg(path, because);
        [[fallthrough]];
    case SerialPort::Gone:
        return QCoreApplication::translate("MainWindow",
                                           "Порт %1 не найден%2: устройство отключено.\nПодключите "
                                           "адаптер и выберите порт в списке заново.")
            .arg(path, because);
    case SerialPort::ResolverSilent:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер DNS не ответил на запрос адреса сервера порта %1%2.\n"
                                 "Проверьте DNS-сервер сети или укажите IP-адрес сервера.")
            .arg(path, because);
    case SerialPort::ServerReset:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер порта %1 сбросил соединение сразу после подключения%2.\n"
                                 "Проверьте, что сервер принимает подключения с этого компьютера и "
                                 "что номер порта TCP указан верно.")
            .arg(path, because);
    case SerialPort::BrokenServer:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер порта %1 нарушает протокол Telnet%2.\nПроверьте, что "
                                 "это порт линии сервера, или укажите порт как tcp://адрес:порт.")
            .arg(path, because);
    case SerialPort::SpeedNotSet:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер порта %1 держит линию на другой скорости%2.\nНастройте "
                                 "скорость линии на сервере или укажите порт как "
                                 "tcp://адрес:порт.")
            .arg(path, because);
    case SerialPort::Cancelled:
        return QString(); // the operator pressed "Стоп": nothing to tell him
    case SerialPort::HostNotFound:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер порта %1 не найден%2: имя не распознано.\nПроверьте имя "
                                 "сервера или укажите его IP-адрес.")
            .arg(path, because);
    case SerialPort::Refused:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер порта %1 отказал в соединении%2.\nПроверьте номер порта "
                                 "TCP и что сервер (например, ser2net) запущен.")
            .arg(path, because);
    case SerialPort::Unreachable:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер порта %1 недоступен%2.\nПроверьте сеть и адрес сервера.")
            .arg(path, because);
    case SerialPort::NotRfc2217:
        return QCoreApplication::translate(
                   "MainWindow", "Сервер порта %1 не поддерживает RFC 2217%2.\nВключите на сервере "
                                 "telnet(rfc2217) или укажите порт как tcp://адрес:порт и скорость "
                                 "линии (--speed).")
            .arg(path, because);
    default:
        return QCoreApplication::translate("MainWindow", "Порт %1%2.").arg(path, because);
    }
}
