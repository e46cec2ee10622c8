#include "portopenfailure.h"

#include "openfailurecause.h"
#include "windowtexts.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

using Cause = unit::OpenFailureCause;

// The advice for each cause: %1 the port, %2 the system's reason in parentheses. None for
// Cancelled: the operator pressed "Стоп", there is nothing to tell him.
struct Advice
{
    Cause cause;
    const char *source;
};

constexpr const char *busySource = QT_TRANSLATE_NOOP(
    "MainWindow", "Порт %1 занят другой программой%2.\nЗакройте её и нажмите «Старт» снова.");

const Advice advices[] = {
    {Cause::NoPermission,
     QT_TRANSLATE_NOOP("MainWindow", "Нет прав на порт %1%2.\nЗапустите программу от имени "
                                     "пользователя с доступом к порту.")},
    {Cause::Busy, busySource},
    {Cause::ServerBusy, busySource}, // a server's other client is another program too
    {Cause::Unplugged,
     QT_TRANSLATE_NOOP("MainWindow", "Порт %1 не найден%2: устройство отключено.\nПодключите "
                                     "адаптер и выберите порт в списке заново.")},
    {Cause::InvalidName,
     QT_TRANSLATE_NOOP("MainWindow", "Неверное имя сетевого порта %1%2: нужно "
                                     "rfc2217://адрес:порт или tcp://адрес:порт.")},
    {Cause::ResolverSilent,
     QT_TRANSLATE_NOOP("MainWindow", "Сервер DNS не ответил на запрос адреса сервера порта "
                                     "%1%2.\nПроверьте DNS-сервер сети или укажите IP-адрес "
                                     "сервера.")},
    {Cause::HostNotFound,
     QT_TRANSLATE_NOOP("MainWindow", "Сервер порта %1 не найден%2: имя не распознано.\nПроверьте "
                                     "имя сервера или укажите его IP-адрес.")},
    {Cause::Refused,
     QT_TRANSLATE_NOOP("MainWindow", "Сервер порта %1 отказал в соединении%2.\nПроверьте номер "
                                     "порта TCP и что сервер (например, ser2net) запущен.")},
    {Cause::Unreachable, QT_TRANSLATE_NOOP("MainWindow", "Сервер порта %1 недоступен%2.\n"
                                                         "Проверьте сеть и адрес сервера.")},
    {Cause::ServerReset,
     QT_TRANSLATE_NOOP("MainWindow", "Сервер порта %1 сбросил соединение сразу после "
                                     "подключения%2.\nПроверьте, что сервер принимает "
                                     "подключения с этого компьютера и что номер порта TCP указан "
                                     "верно.")},
    {Cause::BrokenServer,
     QT_TRANSLATE_NOOP("MainWindow", "Сервер порта %1 нарушает протокол Telnet%2.\nПроверьте, "
                                     "что это порт линии сервера, или укажите порт как "
                                     "tcp://адрес:порт.")},
    {Cause::NotRfc2217,
     QT_TRANSLATE_NOOP("MainWindow", "Сервер порта %1 не поддерживает RFC 2217%2.\nВключите на "
                                     "сервере telnet(rfc2217) или укажите порт как "
                                     "tcp://адрес:порт и скорость линии (--speed).")},
    {Cause::SpeedNotSet,
     QT_TRANSLATE_NOOP("MainWindow", "Сервер порта %1 держит линию на другой скорости%2.\n"
                                     "Настройте скорость линии на сервере или укажите порт как "
                                     "tcp://адрес:порт.")},
    {Cause::Cancelled, nullptr},
    {Cause::Other, QT_TRANSLATE_NOOP("MainWindow", "Порт %1%2.")},
};

// The advice to join the device's group: %1 the port, %2 the reason, %3 the group.
constexpr const char *joinGroupSource =
    QT_TRANSLATE_NOOP("MainWindow", "Нет прав на порт %1%2.\nДобавьте себя в группу %3:\n"
                                    "    sudo usermod -aG %3 $USER\n"
                                    "затем выйдите из системы и войдите снова.");

const char *adviceSource(Cause cause)
{
    for (const Advice &advice : advices)
        if (advice.cause == cause)
            return advice.source;
    return adviceSource(Cause::Other);
}

} // namespace

void showPortOpenFailure(const QString &advice)
{
    QMessageBox box(QMessageBox::Critical, app::messageTitle, app::portOpenFailedText,
                    QMessageBox::Yes);
    box.setInformativeText(advice);
    box.exec();
}

QString portOpenAdvice(SerialPort::Error kind, const QString &path, const QString &reason)
{
    const unit::OpenFailure failure = unit::openFailure(kind, path);
    const QString because = reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
    if (failure.cause == Cause::NoPermission && !failure.group.isEmpty())
        return QCoreApplication::translate("MainWindow", joinGroupSource)
            .arg(path, because, failure.group);
    const char *source = adviceSource(failure.cause);
    return source ? QCoreApplication::translate("MainWindow", source).arg(path, because)
                  : QString();
}
