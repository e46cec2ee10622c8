#include "simchild.h"

#include "processclock.h"
#include "unitserver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using namespace std::chrono_literals;
constexpr auto firstLineWait = 5000ms;
constexpr auto leaveWait = 2000ms;

// Reads up to the first line feed from `fd`, waiting at most `wait`.
bool readFirstLine(int fd, std::chrono::milliseconds wait, QByteArray &line)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!line.endsWith('\n')) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
            return false;
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            return false;
        line.append(c);
    }
    line.chop(1);
    return true;
}

} // namespace

QString simulatorProgram()
{
    return QStringLiteral(VERTAL_UNIT_SIM_PATH);
}

SimChild::~SimChild()
{
    stop();
}

bool SimChild::start(const QStringList &args, QString *error)
{
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);

    const QByteArray program = simulatorProgram().toLocal8Bit();
    std::vector<QByteArray> argBytes{program};
    for (const QString &a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const int spawned =
        ::posix_spawn(&child, program.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toChild = in[1];
    fromChild = out[0];
    if (spawned != 0) {
        child = -1;
        *error = QStringLiteral("cannot start %1: %2")
                     .arg(simulatorProgram(), QString::fromLocal8Bit(std::strerror(spawned)));
        stop();
        return false;
    }
    QByteArray line;
    if (!readFirstLine(fromChild, firstLineWait, line)) {
        *error = QStringLiteral("the simulator printed no device path");
        stop();
        return false;
    }
    path = QString::fromLocal8Bit(line);
    return true;
}

bool SimChild::holdLine()
{
    if (heldLine < 0 && !path.isEmpty())
        heldLine =
            ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Let the simulator finish the nap it may be in, so that it listens from now on.
    std::this_thread::sleep_for(2 * UnitServer::idleLineNap);
    return heldLine >= 0;
}

bool SimChild::command(const QByteArray &line)
{
    if (toChild < 0)
        return false;
    const QByteArray text = line + '\n';
    return ::write(toChild, text.constData(), size_t(text.size())) == text.size();
}

void SimChild::stop()
{
    if (heldLine >= 0)
        ::close(heldLine);
    heldLine = -1;
    if (toChild >= 0)
        ::close(toChild);
    toChild = -1;
    if (child > 0) {
        const auto deadline = std::chrono::steady_clock::now() + leaveWait;
        int status = 0;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                break;
            }
            ::usleep(10000);
        }
    }
    child = -1;
    if (fromChild >= 0)
        ::close(fromChild);
    fromChild = -1;
    path.clear();
}

double SimChild::cpuSeconds() const
{
    return child > 0 ? processCpuSeconds(child) : -1.0;
}
