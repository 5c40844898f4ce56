#include "CapturePriority.h"

#include <QByteArray>
#include <QtGlobal>

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
    // GLUEBOX_REALTIME=0 leaves every thread on the normal scheduler (to compare, or where
    // an integrator wants nothing on the real-time one).
    static const bool wanted = qgetenv("GLUEBOX_REALTIME") != "0";
    bool raised = false;
#ifdef __linux__
    if (wanted) {
        sched_param param{};
        param.sched_priority = kFifoPriority;
        raised = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }
#endif
    if (!g_said.exchange(true)) {
        std::printf(raised    ? "Capture threads run at real-time priority.\n"
                    : wanted ? "Capture threads run at normal priority (real-time priority not"
                               " permitted).\n"
                             : "Capture threads run at normal priority (GLUEBOX_REALTIME=0).\n");
        std::fflush(stdout);
    }
}
