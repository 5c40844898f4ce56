#include "CapturePriority.h"

#include <atomic>
#include <cstdio>

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif

namespace {
constexpr int kFifoPriority = 10; // above every normal thread, below the kernel's own
std::atomic<bool> g_said{false};
thread_local bool t_done = false;
} // namespace

void CapturePriority::raiseCurrentThread()
{
    if (t_done)
        return;
    t_done = true;
#ifdef __linux__
    sched_param param{};
    param.sched_priority = kFifoPriority;
    const bool raised = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
#else
    const bool raised = false;
#endif
    if (!g_said.exchange(true)) {
        std::printf(raised ? "Capture threads run at real-time priority.\n"
                           : "Capture threads run at normal priority (real-time priority not"
                             " permitted).\n");
        std::fflush(stdout);
    }
}
