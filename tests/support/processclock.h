#pragma once

#include <sys/types.h>

// CPU and memory figures of processes and threads, read from the kernel.

// CPU seconds (user and system) this process has used, all threads together.
double selfCpuSeconds();
// CPU seconds the calling thread has used.
double threadCpuSeconds();
// Seconds the calling thread has waited, runnable, for a CPU that others had (scheduler
// run-queue delay; grows only on a busy machine). 0 when the kernel does not tell.
double threadRunQueueSeconds();
// CPU seconds of another process, all its threads, from /proc (nanosecond resolution);
// -1 when it cannot be read. Threads that have ended are not counted.
double processCpuSeconds(pid_t pid);
// Resident memory of this process in KiB (VmRSS); -1 when it cannot be read.
long residentKiB();

// Seconds on the monotonic clock.
double monotonicSeconds();
