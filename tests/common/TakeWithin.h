#pragma once

#include "SyncQueue.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <thread>

// take() with a time limit, for tests: the blocking take runs on a helper thread, and an
// extra element releases it when nothing came in time. `stopMarker` must be what the
// queue's consumer treats as "nothing".
template <typename T>
bool takeWithin(SyncQueue<T> &queue, T &out, int timeoutMs, const T &stopMarker = T())
{
    std::atomic<bool> got{false};
    std::thread taker([&] {
        queue.take(out);
        got = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!got && clock.elapsed() < timeoutMs)
        QThread::msleep(2);
    const bool inTime = got;
    if (!inTime)
        queue.put(stopMarker);
    taker.join();
    return inTime;
}
