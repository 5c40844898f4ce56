#include "DebugThread.h"
#include "MatMetaType.h"
#include "Rotation.h"

#include <QtTest>

// Re-emits the thread's notify on the test thread (queued), so that the spy is filled
// where it is read rather than by the debug thread.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void notify(int cam, int window, cv::Mat image);
};

// The debug view: raw frames reach the window as RGB or three-channel grey, rotated like
// the inspection path.
class tst_DebugThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<cv::Mat>("cv::Mat"); }

    void framesToTheMainView_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<bool>("rotationEnabled");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("width");
        QTest::newRow("grey") << false << false << 0 << 40;
        QTest::newRow("colour") << true << false << 3 << 40;
        QTest::newRow("rotated 90") << false << true << 0 << 30;
        QTest::newRow("rotated 180") << true << true << 1 << 40;
        QTest::newRow("code 3 enabled") << false << true << 3 << 40;
    }

    void framesToTheMainView()
    {
        QFETCH(bool, colour);
        QFETCH(bool, rotationEnabled);
        QFETCH(int, code);
        QFETCH(int, width);
        g_rotate[2] = code;
        g_rotate_enable[2] = rotationEnabled;

        SyncQueue<cv::Mat> queue("debug_2");
        DebugThread thread;
        thread.init(2, &queue);
        Relay relay;
        connect(&thread, &DebugThread::notify, &relay, &Relay::notify, Qt::QueuedConnection);
        QSignalSpy spy(&relay, &Relay::notify);
        thread.start();
        queue.put(cv::Mat()); // an empty image shows nothing
        cv::Mat frame = colour ? cv::Mat(30, 40, CV_8UC3, cv::Scalar(10, 20, 30))
                               : cv::Mat(30, 40, CV_8UC1, cv::Scalar(77));
        queue.put(frame);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 5000);
        QCOMPARE(spy.at(0).at(0).toInt(), 2);
        QCOMPARE(spy.at(0).at(1).toInt(), 0);
        const cv::Mat shown = spy.at(0).at(2).value<cv::Mat>();
        QCOMPARE(shown.channels(), 3);
        QCOMPARE(shown.cols, width);
        const cv::Vec3b px = shown.at<cv::Vec3b>(0, 0);
        if (colour)
            QCOMPARE(px, cv::Vec3b(30, 20, 10)); // first and third channels swapped
        else
            QCOMPARE(px, cv::Vec3b(77, 77, 77));
        g_rotate[2] = Rotation::kNone;
        g_rotate_enable[2] = false;
    }

    void destructorStopsAnIdleThread()
    {
        SyncQueue<cv::Mat> queue("debug_0");
        auto thread = std::make_unique<DebugThread>();
        thread->init(0, &queue);
        thread->start();
        QTest::qWait(20);
        thread.reset(); // returns only if the stop marker wakes the waiting thread
    }
};

QTEST_GUILESS_MAIN(tst_DebugThread)
#include "tst_debugthread.moc"
