#include "FrameRecord.h"
#include "LockedList.h"
#include "StationQueues.h"
#include "SyncQueue.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// The queues between the station's threads, exercised with real threads.
class tst_SyncQueue : public QObject
{
    Q_OBJECT

private:
    static FrameRecord frame(int shots)
    {
        FrameRecord r;
        r.shots = shots;
        r.image = cv::Mat(2, 2, CV_8UC1, cv::Scalar(shots % 256));
        return r;
    }

private slots:
    void fifoWithinCapacity()
    {
        SyncQueue<int> q("fifo");
        for (int i = 0; i < SyncQueue<int>::kCapacity; ++i)
            q.put(i);
        for (int i = 0; i < SyncQueue<int>::kCapacity; ++i) {
            int v = -1;
            q.take(v);
            QCOMPARE(v, i);
        }
    }

    void producerFarAheadOfSlowConsumerLosesNothingAndBlocksAtFifteen()
    {
        SyncQueue<FrameRecord> q("image_0");
        constexpr int kItems = 1000;
        std::atomic<int> putDone{0};
        std::thread producer([&] {
            for (int i = 0; i < kItems; ++i) {
                q.put(frame(i));
                putDone.fetch_add(1);
            }
        });

        // Nobody takes yet: the producer stops after the 15th put.
        QTRY_COMPARE(putDone.load(), 15);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QCOMPARE(putDone.load(), 15);

        int maxAhead = 0;
        std::vector<int> received;
        received.reserve(kItems);
        for (int i = 0; i < kItems; ++i) {
            FrameRecord r;
            q.take(r);
            received.push_back(r.shots);
            maxAhead = std::max(maxAhead, putDone.load() - i - 1);
            if (i % 100 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        producer.join();

        QCOMPARE(int(received.size()), kItems);
        for (int i = 0; i < kItems; ++i)
            QCOMPARE(received[i], i);
        // A put may complete between a take and its count, never more than that.
        QVERIFY2(maxAhead <= 16, qPrintable(QString::number(maxAhead)));
    }

    void sixteenthPutReturnsOnlyAfterATake()
    {
        SyncQueue<int> q("full");
        for (int i = 0; i < 15; ++i)
            q.put(i);
        std::atomic<bool> returned{false};
        std::thread producer([&] {
            q.put(15);
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QVERIFY(!returned.load());
        int v = -1;
        q.take(v);
        QCOMPARE(v, 0);
        QTRY_VERIFY(returned.load());
        producer.join();
        for (int i = 1; i <= 15; ++i) {
            q.take(v);
            QCOMPARE(v, i);
        }
    }

    void stopMarkerWakesWaitingConsumerAfterQueuedFrames()
    {
        SyncQueue<FrameRecord> q("image_1");
        std::atomic<int> handled{0};
        std::atomic<bool> stopped{false};
        std::thread consumer([&] {
            for (;;) {
                FrameRecord r;
                q.take(r);
                if (r.image.empty())
                    break;
                handled.fetch_add(1);
            }
            stopped = true;
        });
        // The consumer is already waiting on an empty queue.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QVERIFY(!stopped.load());
        q.put(frame(1));
        q.put(frame(2));
        q.put(frame(3));
        q.put(FrameRecord{});
        QTRY_VERIFY(stopped.load());
        consumer.join();
        QCOMPARE(handled.load(), 3);
    }

    void emptyImageWakesAnIdleConsumer()
    {
        SyncQueue<cv::Mat> q("debug_0");
        std::atomic<bool> woke{false};
        std::thread consumer([&] {
            cv::Mat m(1, 1, CV_8UC1);
            q.take(m);
            woke = m.empty();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        q.put(cv::Mat());
        consumer.join();
        QVERIFY(woke.load());
    }

    void twoBlockedProducersBothComplete()
    {
        SyncQueue<int> q("save queue");
        constexpr int kEach = 200;
        auto produce = [&q](int base) {
            for (int i = 0; i < kEach; ++i)
                q.put(base + i);
        };
        std::thread a(produce, 0), b(produce, 100000);
        int lastA = -1, lastB = 99999, countA = 0, countB = 0;
        for (int i = 0; i < 2 * kEach; ++i) {
            int v = 0;
            q.take(v);
            if (v < 100000) {
                QVERIFY(v > lastA);
                lastA = v;
                ++countA;
            } else {
                QVERIFY(v > lastB);
                lastB = v;
                ++countB;
            }
        }
        a.join();
        b.join();
        QCOMPARE(countA, kEach);
        QCOMPARE(countB, kEach);
    }

    void lockedListBasics()
    {
        LockedList<bool> l("result_0");
        QCOMPARE(l.size(), 0);
        bool out = true;
        QVERIFY(!l.pop(out)); // empty: nothing read, out untouched
        QCOMPARE(out, true);
        l.push(false);
        l.push(true);
        QCOMPARE(l.size(), 2);
        l.clear();
        QCOMPARE(l.size(), 0);
        l.push(false);
        QCOMPARE(l.size(), 1);
        QVERIFY(l.pop(out));
        QCOMPARE(out, false);
        QCOMPARE(l.size(), 0);
    }

    void lockedListUnderTwoThreads()
    {
        LockedList<int> l("shooted_0");
        constexpr int kItems = 20000;
        std::thread pusher([&] {
            for (int i = 0; i < kItems; ++i)
                l.push(i);
        });
        std::vector<int> got;
        got.reserve(kItems);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (int(got.size()) < kItems && std::chrono::steady_clock::now() < deadline) {
            if (l.size() >= 1) {
                int v = -1;
                QVERIFY(l.pop(v));
                got.push_back(v);
            }
        }
        pusher.join();
        QCOMPARE(int(got.size()), kItems);
        for (int i = 0; i < kItems; ++i)
            QCOMPARE(got[i], i);
        QCOMPARE(l.size(), 0);
    }

    void stationQueuesAreNamedByIndexFromZero()
    {
        StationQueues::create();
        QCOMPARE(QString::fromStdString(g_save_queue->name()), QString("save queue"));
        QCOMPARE(QString::fromStdString(g_image_queue[0]->name()), QString("image_0"));
        QCOMPARE(QString::fromStdString(g_result_list[0]->name()), QString("result_0"));
        QCOMPARE(QString::fromStdString(g_result_wait_list[0]->name()), QString("result_wait0"));
        QCOMPARE(QString::fromStdString(g_shooted_list[0]->name()), QString("shooted_0"));
        QCOMPARE(QString::fromStdString(g_debug_queue[0]->name()), QString("debug_0"));
        QCOMPARE(QString::fromStdString(g_image_queue[3]->name()), QString("image_3"));
        QCOMPARE(QString::fromStdString(g_result_wait_list[3]->name()), QString("result_wait3"));
        SyncQueue<FrameRecord> *before = g_image_queue[2];
        StationQueues::create(); // existing queues are kept
        QCOMPARE(g_image_queue[2], before);
        StationQueues::release();
        QVERIFY(!g_save_queue);
        for (int k = 0; k < 4; ++k)
            QVERIFY(!g_image_queue[k] && !g_debug_queue[k] && !g_result_list[k]
                    && !g_result_wait_list[k] && !g_shooted_list[k]);
    }
};

QTEST_GUILESS_MAIN(tst_SyncQueue)
#include "tst_syncqueue.moc"
