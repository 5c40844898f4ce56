#include "StationQueues.h"

#include <cstdio>

SyncQueue<SaveRequest> *g_save_queue = nullptr;
SyncQueue<FrameRecord> *g_image_queue[4] = {};
SyncQueue<cv::Mat> *g_debug_queue[4] = {};
LockedList<Verdict> *g_result_list[4] = {};
LockedList<uint64_t> *g_result_wait_list[4] = {};
LockedList<uint64_t> *g_shooted_list[4] = {};

namespace {
std::string indexed(const char *pattern, int k)
{
    char name[32];
    std::snprintf(name, sizeof name, pattern, k);
    return name;
}

template <typename Q>
void make(Q *&q, const std::string &name)
{
    if (!q)
        q = new Q(name);
}

template <typename Q>
void drop(Q *&q)
{
    delete q;
    q = nullptr;
}
} // namespace

void StationQueues::create()
{
    make(g_save_queue, "save queue");
    for (int k = 0; k < 4; ++k) {
        make(g_image_queue[k], indexed("image_%d", k));
        make(g_result_list[k], indexed("result_%d", k));
        make(g_result_wait_list[k], indexed("result_wait%d", k));
        make(g_shooted_list[k], indexed("shooted_%d", k));
        make(g_debug_queue[k], indexed("debug_%d", k));
    }
}

void StationQueues::release()
{
    drop(g_save_queue);
    for (int k = 0; k < 4; ++k) {
        drop(g_image_queue[k]);
        drop(g_result_list[k]);
        drop(g_result_wait_list[k]);
        drop(g_shooted_list[k]);
        drop(g_debug_queue[k]);
    }
}
