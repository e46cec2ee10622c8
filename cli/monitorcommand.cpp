// monitor: watches the units of every configured line and publishes them to an MQTT broker
// until SIGTERM or SIGINT (exit 0); SIGHUP reads the configuration again.
#include "commands.h"
#include "exitcodes.h"
#include "output.h"

#ifdef VERTAL_HAS_MONITOR
#include "monitorconfig.h"
#include "monitorservice.h"
#include "monitorsignals.h"
#include "networkline.h"
#include "passwordfile.h"
#include "systemdlink.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <syslog.h>

namespace {

// The configuration at `path` checked whole, and the broker's password. ExitDone or
// ExitUsage, the fault said.
int readSettings(const QString &path, monitor::MonitorConfig &config, QString &password)
{
    QString error;
    if (!monitor::readMonitorConfig(path, config, error)) {
        Output::error(QStringLiteral("%1: %2").arg(path, error));
        return ExitUsage;
    }
    if (!config.mqtt.passwordFile.isEmpty() &&
        !monitor::readPasswordFile(config.mqtt.passwordFile, password, error)) {
        Output::error(QStringLiteral("mqtt.password_file: ") + error);
        return ExitUsage;
    }
    if (config.commands) {
        const QString refusal = monitor::commandsRefusal(config.mqtt);
        if (!refusal.isEmpty()) {
            Output::error(QStringLiteral("commands: ") + refusal);
            return ExitUsage;
        }
    }
    return ExitDone;
}

QString readyStatus(const monitor::MonitorConfig &config)
{
    return QStringLiteral("watching %1 lines, publishing to %2")
        .arg(config.lines.size())
        .arg(config.mqtt.url);
}

// READY=1 once every line has been tried and the broker attempted.
void announceWhenReady(monitor::MonitorService &service, const QString &status)
{
    auto *check = new QTimer(qApp);
    check->setInterval(100);
    QObject::connect(check, &QTimer::timeout, qApp, [&service, check, status] {
        if (!service.isReady())
            return;
        check->stop();
        check->deleteLater();
        monitor::systemd::notifyReady(status);
    });
    check->start();
}

// WATCHDOG=1 at half the period systemd asked for, while every line's poller makes progress.
void keepWatchdog(monitor::MonitorService &service)
{
    const quint64 periodUs = monitor::systemd::watchdogPeriodUsec();
    if (periodUs == 0)
        return;
    const qint64 periodMs = qint64(periodUs / 1000);
    auto *beat = new QTimer(qApp);
    beat->setInterval(int(std::max<qint64>(periodMs / 2, 1)));
    QObject::connect(beat, &QTimer::timeout, qApp,
                     [&service, periodMs] { service.keepWatchdog(periodMs); });
    beat->start();
}

void reload(monitor::MonitorService &service, const QString &path)
{
    monitor::systemd::notifyReloading();
    monitor::MonitorConfig config;
    QString password;
    if (readSettings(path, config, password) != ExitDone) {
        monitor::systemd::journalMessage(LOG_ERR, QStringLiteral(
                                                      "the configuration was not changed"));
        monitor::systemd::notifyReady(QStringLiteral("configuration fault, the old one kept"));
        return;
    }
    QString error;
    if (!service.reload(config, password, error))
        monitor::systemd::journalMessage(LOG_ERR, QStringLiteral("broker: ") + error);
    announceWhenReady(service, readyStatus(config));
}

} // namespace

int runMonitor(const QString &configPath)
{
    monitor::MonitorConfig config;
    QString password;
    if (const int code = readSettings(configPath, config, password))
        return code;
    monitor::MonitorService service(config, password);
    const bool signalsSet = monitorSignals::install([&service, configPath](int signo) {
        if (signo == SIGHUP) {
            reload(service, configPath);
            return;
        }
        monitor::systemd::notifyStopping();
        NetworkLine::abortAttempts(); // a server that keeps silent must not hold the stop
        service.stop();
        QCoreApplication::exit(ExitDone);
    });
    if (!signalsSet) {
        Output::error(QStringLiteral("the signal handlers cannot be installed"));
        return ExitUsage;
    }
    QString error;
    if (!service.start(error)) {
        Output::error(QStringLiteral("mqtt: ") + error);
        return ExitUsage;
    }
    announceWhenReady(service, readyStatus(config));
    keepWatchdog(service);
    return QCoreApplication::exec();
}

#else

int runMonitor(const QString &)
{
    Output::error(QStringLiteral("monitor is not in this build (Linux only)"));
    return ExitUsage;
}

#endif
