// vertal-bench-startup: time from process start to the main window shown (offscreen).
//
// The program has no switch to leave once its window is up, so this benchmark starts
// itself as a child that does what the program's main() does (application object, the
// real MainWindow, font fit, show) and reports the moment the window's first paint is
// done. The parent takes the time just before it spawns the child, so the figure holds
// exec, dynamic loading, the platform plugin, the form and the port list. The port list
// gets the simulator's line through VERTAL_EXTRA_PORTS, as the program would.
//
//   vertal-bench-startup [--runs N]

#include "benchreport.h"
#include "fontfit.h"
#include "mainwindow.h"
#include "percentiles.h"
#include "processclock.h"
#include "simchild.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QLoggingCategory>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int childTimeoutMs = 20000;

// Reports the monotonic time of the window's first finished paint on standard output,
// then ends the event loop.
class FirstPaint : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            // After the paint event has been handled: the frame is in the backing store.
            QTimer::singleShot(0, qApp, [] {
                std::printf("%.6f\n", monotonicSeconds());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen = false;
};

// The child: the program's main() up to the shown window.
int runChild(int argc, char *argv[])
{
    const double entered = monotonicSeconds();
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false"));
    MainWindow window;
    QFont font = QApplication::font();
    font.setFamily(fitFontFamily(&window));
    QApplication::setFont(font);
    FirstPaint watch;
    window.installEventFilter(&watch);
    std::fprintf(stderr, "%.6f\n", entered);
    window.show();
    return app.exec();
}

// Spawns this program as a child; returns seconds from spawn to its window shown and the
// part of it spent before main() (exec and loading), or -1 on failure.
double timeOneStart(const char *self, double &beforeMain)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    char childFlag[] = "--child";
    char *argv[] = {const_cast<char *>(self), childFlag, nullptr};
    pid_t pid = -1;
    const double start = monotonicSeconds();
    const int spawned = ::posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    QByteArray shownText;
    QByteArray errText;
    if (spawned == 0) {
        for (;;) {
            pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
            if (::poll(p, 2, childTimeoutMs) <= 0)
                break;
            char buf[512];
            bool open = false;
            for (int i = 0; i < 2; ++i) {
                if (!p[i].revents)
                    continue;
                const ssize_t n = ::read(i == 0 ? out[0] : err[0], buf, sizeof buf);
                if (n > 0)
                    (i == 0 ? shownText : errText).append(buf, n);
                open = open || n > 0;
            }
            if (!open)
                break;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    ::close(out[0]);
    ::close(err[0]);
    bool ok = false;
    const double shown = shownText.trimmed().toDouble(&ok);
    if (!ok) {
        std::fprintf(stderr, "startup: child said: %s\n", errText.constData());
        return -1;
    }
    // The child's standard error holds Qt's notes too; its first number is main()'s entry.
    for (const QByteArray &line : errText.split('\n')) {
        bool isNumber = false;
        const double entered = line.toDouble(&isNumber);
        if (isNumber) {
            beforeMain = entered - start;
            break;
        }
    }
    return shown - start;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);

    int runs = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    SimChild sim;
    QString error;
    if (!sim.start({}, &error)) {
        std::fprintf(stderr, "vertal-bench-startup: %s\n", qPrintable(error));
        return 1;
    }
    qputenv("VERTAL_EXTRA_PORTS", sim.devicePath().toLocal8Bit());

    std::vector<double> shownMs;
    std::vector<double> beforeMainMs;
    for (int i = 0; i < runs; ++i) {
        double beforeMain = 0;
        const double seconds = timeOneStart("/proc/self/exe", beforeMain);
        if (seconds < 0)
            return 1;
        shownMs.push_back(seconds * 1e3);
        beforeMainMs.push_back(beforeMain * 1e3);
    }
    const Summary s = summarize(shownMs);
    report("startup.runs", s.count, "", 0);
    report("startup.median", s.median, "ms");
    report("startup.min", s.min, "ms");
    report("startup.max", s.max, "ms");
    report("startup.before_main_median", summarize(beforeMainMs).median, "ms");
    return 0;
}
