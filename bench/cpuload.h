#pragma once

#include <QtGlobal>
#include <sys/types.h>
#include <vector>

// Busy processes that keep CPUs occupied while a benchmark runs, to see how the wizard fares
// on a machine that has other work: each one spins at normal priority until stopped.
class CpuLoad
{
public:
    Q_DISABLE_COPY(CpuLoad)
    CpuLoad() = default;
    ~CpuLoad() { stop(); }

    // Starts `count` spinning child processes. Call before any thread is started.
    void start(int count);
    void stop();

private:
    std::vector<pid_t> children;
};
