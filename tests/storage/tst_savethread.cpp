#include "ImageStore.h"
#include "SaveThread.h"
#include "StationQueues.h"
#include "SysConf.h"
#include "TempStation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <cerrno>

#include <unistd.h>

// Carries the saver's requestHandled onto the test thread (queued). One per test, so that
// no late report of an earlier test's saver reaches a later spy.
class Relay : public QObject
{
    Q_OBJECT
public:
    explicit Relay(SaveThread &saver)
    {
        connect(&saver, &SaveThread::requestHandled, this, &Relay::handled);
        connect(&saver, &SaveThread::saveTrouble, this, &Relay::trouble);
        connect(&saver, &SaveThread::roomWanted, this, &Relay::roomWanted);
    }
signals:
    void handled(QString path, bool written);
    void trouble(QString text, bool failing);
    void roomWanted();
};

// The saving thread: folders made on the way, the stop behind queued requests, and
// requests that can't be written.
class tst_SaveThread : public QObject
{
    Q_OBJECT

private:
    static cv::Mat grey(int value) { return cv::Mat(30, 40, CV_8UC1, cv::Scalar(value)); }
    static cv::Mat colour() { return cv::Mat(24, 32, CV_8UC3, cv::Scalar(10, 120, 240)); }
    static SaveRequest request(const QString &path, const cv::Mat &image)
    {
        return SaveRequest{path.toStdString(), image};
    }

    // Waits until the spy has recorded n requests. The signal comes straight from the
    // saving thread, so it may land before a wait() starts: poll the count instead.
    static bool waitFor(QSignalSpy &spy, int n)
    {
        QElapsedTimer clock;
        clock.start();
        while (spy.count() < n && clock.elapsed() < 10000)
            QTest::qWait(5);
        return spy.count() >= n;
    }
    static cv::Mat load(const QString &path)
    {
        return cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED);
    }

private slots:
    void twoRequestsIntoOneNewFolder()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/image/2024-03-10/1/ng/0";
        SyncQueue<SaveRequest> queue("save queue");
        SaveThread saver(&queue);
        Relay relay(saver);
        QSignalSpy spy(&relay, &Relay::handled);
        saver.start();
        queue.put(request(folder + "/a__0.jpg", grey(90)));
        queue.put(request(folder + "/b__0.jpg", colour()));
        QVERIFY(waitFor(spy, 2));

        QCOMPARE(spy.at(0), (QList<QVariant>{folder + "/a__0.jpg", true}));
        QCOMPARE(spy.at(1), (QList<QVariant>{folder + "/b__0.jpg", true}));
        const cv::Mat a = load(folder + "/a__0.jpg");
        QCOMPARE(a.cols, 40);
        QCOMPARE(a.rows, 30);
        QCOMPARE(a.channels(), 1);
        const cv::Mat b = load(folder + "/b__0.jpg");
        QCOMPARE(b.cols, 32);
        QCOMPARE(b.channels(), 3);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
    }

    void stopMarkerGoesBehindQueuedRequests_data()
    {
        QTest::addColumn<bool>("queuedBeforeStart");
        QTest::newRow("queued before the thread runs") << true;
        QTest::newRow("queued while the thread waits") << false;
    }

    void stopMarkerGoesBehindQueuedRequests()
    {
        QFETCH(bool, queuedBeforeStart);
        QTemporaryDir dir;
        SyncQueue<SaveRequest> queue("save queue");
        const QStringList paths{dir.path() + "/1/one.jpg", dir.path() + "/2/two.jpg",
                                dir.path() + "/1/three.jpg"};
        {
            SaveThread saver(&queue);
            if (!queuedBeforeStart) {
                // Let the thread reach its blocking take first.
                Relay relay(saver);
                QSignalSpy spy(&relay, &Relay::handled);
                saver.start();
                queue.put(request(dir.path() + "/first.jpg", grey(1)));
                QVERIFY(waitFor(spy, 1));
            }
            // A request without image data writes nothing and does not end the thread.
            queue.put(request(dir.path() + "/empty.jpg", cv::Mat()));
            for (int i = 0; i < paths.size(); ++i)
                queue.put(request(paths[i], grey(50 * i)));
            if (queuedBeforeStart)
                saver.start();
        } // the destructor queues the stop marker and waits

        for (const QString &path : paths)
            QVERIFY2(!load(path).empty(), qPrintable(path));
        QVERIFY(!QFile::exists(dir.path() + "/empty.jpg"));
    }

    void unwritableRequestsDoNotStopTheThread()
    {
        QTemporaryDir dir;
        QVERIFY(TempStation::write(dir.path() + "/plain", "not a folder"));
        QStringList bad{
            dir.path() + "/plain/sub/a.jpg",       // a file where a folder should be
            dir.path() + "/plain/b.jpg",           // a file as the folder itself
            dir.path() + "/x/c.unknownextension", // no writer for the extension
            dir.path() + "/x/noextension",
        };
        const cv::Mat twoChannels(8, 8, CV_8UC2, cv::Scalar(1, 2));
        // A full disk: the file name leads to a device that refuses every byte.
        const QString full = dir.path() + "/full.jpg";
        const bool haveFull = QFile::exists("/dev/full") && QFile::link("/dev/full", full);
        if (haveFull)
            bad << full;
        // A folder without write permission (the superuser writes anyway).
        const QString locked = dir.path() + "/locked";
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        if (::geteuid() != 0)
            bad << locked + "/d.jpg";

        SyncQueue<SaveRequest> queue("save queue");
        SaveThread saver(&queue);
        Relay relay(saver);
        QSignalSpy spy(&relay, &Relay::handled);
        saver.start();
        for (const QString &path : bad)
            queue.put(request(path, grey(7)));
        queue.put(request(dir.path() + "/x/layout.jpg", twoChannels)); // no JPEG layout
        const QString good = dir.path() + "/x/good.jpg";
        queue.put(request(good, grey(200)));

        QVERIFY(waitFor(spy, bad.size() + 2));
        for (int i = 0; i < bad.size(); ++i)
            QCOMPARE(spy.at(i), (QList<QVariant>{bad[i], false}));
        QCOMPARE(spy.at(bad.size()).at(1).toBool(), false);
        QCOMPARE(spy.at(bad.size() + 1), (QList<QVariant>{good, true}));
        QVERIFY(!load(good).empty());
        QVERIFY(QFileInfo(dir.path() + "/plain").isFile());
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!haveFull)
            QWARN("no /dev/full: the full-disk request was left out");
    }

    // Lost images are reported once in words, not per image; saving resumes by itself and
    // is said to work once it has held for a while.
    void lossReportedOnceAndSavingResumes()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + "/image";
        QVERIFY(TempStation::write(root, "a file where the image folder should be"));
        SyncQueue<SaveRequest> queue("save queue");
        SaveThread saver(&queue);
        std::atomic<qint64> now{0};
        saver.setClock([&now] { return now.load(); });
        Relay relay(saver);
        QSignalSpy handled(&relay, &Relay::handled);
        QSignalSpy trouble(&relay, &Relay::trouble);
        saver.start();
        for (int i = 0; i < 3; ++i)
            queue.put(request(root + QString("/2024-05-01/1/ng/0/%1.jpg").arg(i), grey(i)));
        QVERIFY(waitFor(handled, 3));
        QVERIFY(QFile::remove(root));
        now = SaveThread::kSteadyMs;
        QString back;
        for (int i = 0; i < SaveThread::kSteadyImages; ++i) {
            back = root + QString("/2024-05-01/1/ng/0/back%1.jpg").arg(i);
            queue.put(request(back, grey(9)));
        }
        QVERIFY(waitFor(handled, 3 + SaveThread::kSteadyImages));
        QVERIFY(waitFor(trouble, 2));
        QCOMPARE(trouble.count(), 2);
        QCOMPARE(trouble.at(0).at(0).toString(),
                 "Images are not being saved: cannot write " + root
                     + "/2024-05-01/1/ng/0/0.jpg (the folder cannot be made). Saving resumes by "
                       "itself when it can write again.");
        QCOMPARE(trouble.at(1).at(0).toString(),
                 "Image saving works again (" + back + "); 3 image(s) were not saved.");
        QCOMPARE(trouble.at(0).at(1).toBool(), true);
        QCOMPARE(trouble.at(1).at(1).toBool(), false);
        QVERIFY(!load(back).empty());
    }

    // The band must not come and go: writing is said to work again only after
    // kSteadyImages written in a row and kSteadyMs without a loss.
    void troubleHoldsUntilWritingHolds_data()
    {
        QTest::addColumn<QString>("writes"); // F: failed, o: written; one every stepMs
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<QString>("said");   // per write: F failing said, A works again, . nothing
        QTest::newRow("steady after a failure") << "Fooooo" << 1000 << "F....A";
        QTest::newRow("the field's flap: failing again 0.8 s later") << "FoFo" << 400 << "F...";
        QTest::newRow("five images within half a second") << "Fooooo" << 100 << "F.....";
        QTest::newRow("four images over 40 s") << "Foooo" << 10000 << "F....";
        QTest::newRow("a failure starts the count over") << "FooooFooooo" << 1000 << "F.........A";
        QTest::newRow("failing again after it was said over")
            << "FoooooFooooo" << 1000 << "F....AF....A";
    }

    void troubleHoldsUntilWritingHolds()
    {
        QFETCH(QString, writes);
        QFETCH(int, stepMs);
        QFETCH(QString, said);
        QTemporaryDir dir;
        SyncQueue<SaveRequest> queue("save queue");
        SaveThread saver(&queue);
        std::atomic<qint64> now{0};
        saver.setClock([&now] { return now.load(); });
        saver.setWriter([](const SaveRequest &r) { return r.path.back() == 'F' ? EIO : 0; });
        Relay relay(saver);
        QSignalSpy handled(&relay, &Relay::handled);
        QSignalSpy trouble(&relay, &Relay::trouble);
        saver.start();
        QString heard;
        for (int i = 0; i < writes.size(); ++i) {
            now = qint64(i) * stepMs;
            queue.put(request(dir.path() + QString("/%1").arg(i) + writes[i], grey(1)));
            QVERIFY(waitFor(handled, i + 1));
            heard += trouble.count() == heard.count('F') + heard.count('A')
                ? QChar('.')
                : QChar(trouble.last().at(1).toBool() ? 'F' : 'A');
        }
        QCOMPARE(heard, said);
    }

    // An image of the store that found no room asks for a clean-up at once, and again only
    // after kRoomIntervalMs; a write that failed with room to spare asks for none.
    void noSpaceMakesRoomOncePerInterval()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + "/image";
        for (const QString file : {"2024-03-08/1/ALL/a.jpg", "2024-03-08/1/ng/0/a.jpg", "2024-03-09/1/ALL/a.jpg"})
            QVERIFY(QDir().mkpath(QFileInfo(root + "/" + file).path())
                    && TempStation::write(root + "/" + file, "x"));
        const int savedDays = g_sys_conf.SAVE_DAYS;
        g_sys_conf.SAVE_DAYS = 30;
        SyncQueue<SaveRequest> queue("save queue");
        SaveThread saver(&queue);
        std::atomic<qint64> now{0};
        std::atomic<bool> full{false};
        saver.setClock([&now] { return now.load(); });
        saver.setWriter([](const SaveRequest &) { return EIO; });
        saver.relief().setImageRoot(root);
        saver.relief().setClock([] { return QDate(2024, 3, 10); });
        // No room while the oldest whole frames are there, or while the test says so.
        saver.relief().setFreeSpaceProbe([&](const QString &) {
            const bool noRoom = full || QFileInfo::exists(root + "/2024-03-08/1/ALL");
            return CleanWorkThread::VolumeSpace{1000000, noRoom ? 0 : 900000};
        });
        Relay relay(saver);
        QSignalSpy handled(&relay, &Relay::handled);
        QSignalSpy trouble(&relay, &Relay::trouble);
        QSignalSpy asked(&relay, &Relay::roomWanted);
        saver.start();
        const auto fail = [&](int n) {
            for (int i = 0; i < n; ++i)
                queue.put(request(root + QString("/2024-03-10/1/ALL/%1.jpg").arg(handled.count() + i), grey(1)));
            return waitFor(handled, handled.count() + n);
        };

        QVERIFY(fail(3));
        QTRY_VERIFY(!QFileInfo::exists(root + "/2024-03-08/1/ALL"));
        QVERIFY(QFileInfo::exists(root + "/2024-03-08/1/ng/0/a.jpg"));
        QVERIFY(QFileInfo::exists(root + "/2024-03-09/1/ALL/a.jpg"));
        QVERIFY2(trouble.at(0).at(0).toString().contains("(no space left on the volume; the oldest "
                                                         "whole-frame images are being deleted"),
                 qPrintable(trouble.at(0).at(0).toString()));
        full = true;
        now = SaveThread::kRoomIntervalMs - 1;
        QVERIFY(fail(2));
        QCOMPARE(asked.count(), 1);
        now = SaveThread::kRoomIntervalMs;
        QVERIFY(fail(1));
        QTRY_VERIFY(!QFileInfo::exists(root + "/2024-03-09/1/ALL"));
        full = false;
        now = 3 * SaveThread::kRoomIntervalMs;
        QVERIFY(fail(1));
        QCOMPARE(asked.count(), 2);
        g_sys_conf.SAVE_DAYS = savedDays;
    }

    // Images the workers dropped at a full queue are lost images: said once, as a slow disk.
    void droppedImagesAreSaidAsASlowDisk()
    {
        QTemporaryDir dir;
        SyncQueue<SaveRequest> queue("save queue");
        SaveThread saver(&queue);
        std::atomic<qint64> now{0};
        saver.setClock([&now] { return now.load(); });
        QSemaphore disk;
        saver.setWriter([&disk](const SaveRequest &) { disk.acquire(); return 0; });
        Relay relay(saver);
        QSignalSpy handled(&relay, &Relay::handled);
        QSignalSpy trouble(&relay, &Relay::trouble);
        saver.start();
        // One image on its way to the disk, a full queue behind it, three refused.
        const int queued = 1 + SyncQueue<SaveRequest>::kCapacity;
        for (int i = 0; i < queued; ++i)
            queue.put(request(dir.path() + QString("/%1.jpg").arg(i), grey(i)));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!queue.tryPut(request(dir.path() + "/dropped.jpg", grey(1))));
        disk.release(queued + 1);
        QVERIFY(waitFor(handled, queued));
        now = SaveThread::kSteadyMs;
        queue.put(request(dir.path() + "/last.jpg", grey(1)));
        QVERIFY(waitFor(trouble, 2));
        QCOMPARE(trouble.at(0).at(0).toString(),
                 QString("Images are not being saved: the disk, or the machine, is too slow; the save "
                         "queue was full and 3 image(s) were dropped so that no verdict waits. Saving "
                         "resumes by itself when it keeps up."));
        QCOMPARE(trouble.at(1).at(0).toString(),
                 "Image saving works again (" + dir.path() + "/last.jpg); 3 image(s) were not saved.");
    }

    void folderRemovedWhileRunningIsMadeAgain()
    {
        QTemporaryDir dir;
        const QString day = dir.path() + "/2024-03-10";
        SyncQueue<SaveRequest> queue("save queue");
        SaveThread saver(&queue);
        Relay relay(saver);
        QSignalSpy spy(&relay, &Relay::handled);
        saver.start();
        queue.put(request(day + "/1/ALL/first.jpg", grey(3)));
        QVERIFY(waitFor(spy, 1));
        QVERIFY(QDir(day).removeRecursively());
        queue.put(request(day + "/1/ALL/second.jpg", grey(4)));
        QVERIFY(waitFor(spy, 2));
        QCOMPARE(spy.at(1).at(1).toBool(), true);
        QVERIFY(!load(day + "/1/ALL/second.jpg").empty());
    }

    void bareFileNameLandsInTheWorkingDirectory()
    {
        TempStation station;
        QVERIFY(station.isValid());
        SyncQueue<SaveRequest> queue("save queue");
        {
            SaveThread saver(&queue);
            saver.start();
            queue.put(request("bare.jpg", grey(9)));
        }
        QVERIFY(QFileInfo("bare.jpg").isFile());
    }

    void usesTheStationQueueAndTheStoreLayout()
    {
        TempStation station;
        QVERIFY(station.isValid());
        StationQueues::create();
        const QDateTime when(QDate(2024, 3, 10), QTime(8, 5, 9, 7));
        const QString ng = ImageStore::ngPath(when, 1, 2);
        const QString all = ImageStore::wholeFramePath(when, 0);
        QCOMPARE(ng, QString("../data/image/2024-03-10/2/ng/2/2024-03-10_08-05-09_007__2.jpg"));
        QCOMPARE(all, QString("../data/image/2024-03-10/1/ALL/2024-03-10_08-05-09_007_.jpg"));
        {
            SaveThread saver;
            saver.start();
            g_save_queue->put(request(ng, grey(5)));
            g_save_queue->put(request(all, colour()));
        }
        QVERIFY(!load(station.path("data/image/2024-03-10/2/ng/2/2024-03-10_08-05-09_007__2.jpg")).empty());
        QVERIFY(!load(station.path("data/image/2024-03-10/1/ALL/2024-03-10_08-05-09_007_.jpg")).empty());
        StationQueues::release();
    }

    // With nothing to save (SAVE 0) the image store is never created.
    void idleSaverCreatesNoFolder()
    {
        TempStation station;
        SyncQueue<SaveRequest> queue("save queue");
        {
            SaveThread saver(&queue);
            saver.start();
        }
        QVERIFY(!QFileInfo::exists(station.path("data/image")));
    }

    void neverStartedSaverWithAFullQueueEndsAtOnce()
    {
        QTemporaryDir dir;
        SyncQueue<SaveRequest> queue("save queue");
        for (int i = 0; i < SyncQueue<SaveRequest>::kCapacity; ++i)
            queue.put(request(dir.path() + QString("/%1.jpg").arg(i), grey(i)));
        {
            SaveThread saver(&queue); // destroyed without start: must not block on the queue
        }
        QVERIFY(!QFile::exists(dir.path() + "/0.jpg"));
    }
};

QTEST_GUILESS_MAIN(tst_SaveThread)
#include "tst_savethread.moc"
