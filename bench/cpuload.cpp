#include "cpuload.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

void CpuLoad::start(int count)
{
    for (int i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        }
        if (pid > 0)
            children.push_back(pid);
    }
}

void CpuLoad::stop()
{
    for (pid_t pid : children) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    children.clear();
}
