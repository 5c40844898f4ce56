#include "CleanWorkThread.h"
#include "CleanupRunner.h"
#include "StdoutCapture.h"
#include "SysConf.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The image cleanup: which entries of a store survive, the escalation when the disk is
// short, and the self-deleting runs.
class tst_ImageCleanup : public QObject
{
    Q_OBJECT

private:
    const QDate m_today{2024, 3, 10};

    QString day(int age) const { return m_today.addDays(-age).toString("yyyy-MM-dd"); }

    static void makeFile(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY2(f.open(QIODevice::WriteOnly) && f.write("x") == 1, qPrintable(path));
    }
    // A day folder with an image in it, as the saver leaves it.
    void makeDay(const QString &root, int age) const
    {
        makeFile(root + "/" + day(age) + "/1/ng/0/img__0.jpg");
    }
    // Ages of the day folders directly in root, sorted.
    QList<int> dayAges(const QString &root) const
    {
        QList<int> ages;
        for (const QString &name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QDate d = QDate::fromString(name, "yyyy-MM-dd");
            if (d.isValid())
                ages << int(d.daysTo(m_today));
        }
        std::sort(ages.begin(), ages.end());
        return ages;
    }
    static QList<int> range(int from, int to)
    {
        QList<int> r;
        for (int i = from; i <= to; ++i)
            r << i;
        return r;
    }
    static void makeWritable(const QString &path)
    {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private slots:
    void manualCleanupOfAMixedStore()
    {
        QTemporaryDir dir;
        QTemporaryDir outside;
        const QString root = dir.path() + "/image";
        makeDay(root, 0);
        makeDay(root, 1);
        makeDay(root, 30);
        makeFile(root + "/old/2020-01-01/1/ALL/a.jpg");
        makeFile(root + "/old/" + day(0) + "/keep.jpg");
        makeFile(root + "/2022-09-01_copy/f.jpg");
        makeFile(root + "/2022-09-01_copy/sub/g.jpg");
        makeFile(root + "/2022-13-45/x.jpg");
        makeFile(root + "/2030-01-01/future.jpg");
        makeFile(root + "/.cache/2020-01-01/h.jpg");
        makeFile(root + "/stray.jpg");
        makeFile(root + "/.hidden");
        makeFile(root + "/2020-01-02");
        // Read-only entries stay, the superuser's run included.
        makeFile(root + "/readonly.jpg");
        QVERIFY(QFile::setPermissions(root + "/readonly.jpg", QFile::ReadOwner));
        makeDay(root, 5);
        QVERIFY(QFile::setPermissions(root + "/" + day(5), QFile::ReadOwner | QFile::ExeOwner));
        makeFile(root + "/locked/inner.jpg");
        QVERIFY(QFile::setPermissions(root + "/locked", QFile::ReadOwner | QFile::ExeOwner));
        // Links are never followed out of the store.
        makeFile(outside.path() + "/precious.jpg");
        makeFile(outside.path() + "/2020-01-01/precious.jpg");
        QVERIFY(QFile::link(outside.path(), root + "/elsewhere"));
        QVERIFY(QFile::link(outside.path() + "/2020-01-01", root + "/2019-01-01"));

        removeOldDateFolders(root, 1, m_today);

        const auto exists = [&root](const QString &rel) { return QFileInfo::exists(root + "/" + rel); };
        QVERIFY(exists(day(0) + "/1/ng/0/img__0.jpg"));
        QVERIFY(!exists(day(1)));
        QVERIFY(!exists(day(30)));
        QVERIFY(!exists("old/2020-01-01"));
        QVERIFY(QFileInfo(root + "/old").isDir());
        QVERIFY(exists("old/" + day(0) + "/keep.jpg"));
        QVERIFY(!exists("2022-09-01_copy/f.jpg"));
        QVERIFY(!exists("2022-09-01_copy/sub/g.jpg"));
        QVERIFY(QFileInfo(root + "/2022-09-01_copy/sub").isDir());
        QVERIFY(exists("2022-13-45/x.jpg"));
        QVERIFY(exists("2030-01-01/future.jpg"));
        QVERIFY(!exists(".cache/2020-01-01"));
        QVERIFY(!exists("stray.jpg"));
        QVERIFY(!exists(".hidden"));
        QVERIFY(!exists("2020-01-02"));
        QVERIFY(exists("readonly.jpg"));
        QVERIFY(exists(day(5) + "/1/ng/0/img__0.jpg"));
        QVERIFY(exists("locked/inner.jpg"));
        QVERIFY(QFileInfo(root + "/elsewhere").isSymLink());
        QVERIFY(QFileInfo(root + "/2019-01-01").isSymLink());
        QVERIFY(QFileInfo::exists(outside.path() + "/precious.jpg"));
        QVERIFY(QFileInfo::exists(outside.path() + "/2020-01-01/precious.jpg"));

        makeWritable(root + "/" + day(5));
        makeWritable(root + "/locked");
    }

    void keepDays_data()
    {
        QTest::addColumn<int>("keepDays");
        QTest::addColumn<QList<int>>("survivors");
        QTest::newRow("1: today") << 1 << QList<int>{0};
        QTest::newRow("2: and yesterday") << 2 << QList<int>{0, 1};
        QTest::newRow("3: and the day before") << 3 << QList<int>{0, 1, 2};
        QTest::newRow("8: all but the oldest") << 8 << range(0, 7);
        QTest::newRow("100: everything") << 100 << range(0, 8);
    }

    void keepDays()
    {
        QFETCH(int, keepDays);
        QFETCH(QList<int>, survivors);
        QTemporaryDir dir;
        for (int age = 0; age <= 8; ++age)
            makeDay(dir.path(), age);
        removeOldDateFolders(dir.path(), keepDays, m_today);
        QCOMPARE(dayAges(dir.path()), survivors);
    }

    void missingStoreIsLeftAlone()
    {
        QTemporaryDir dir;
        removeOldDateFolders(dir.path() + "/nothing/here", 1, m_today);
        QVERIFY(!QFileInfo::exists(dir.path() + "/nothing"));
    }

    // The two entry slots set the mode before the cleanup runs.
    void modesOfTheWorker_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<int>("saveDays");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QList<int>>("survivors");
        QTest::addColumn<int>("probes");
        QTest::newRow("automatic, SAVE_DAYS 1") << true << 1 << 1 << QList<int>{0} << 1;
        QTest::newRow("automatic, SAVE_DAYS 3") << true << 3 << 1 << QList<int>{0, 1, 2} << 1;
        QTest::newRow("automatic, SAVE_DAYS 0 keeps today") << true << 0 << 1 << QList<int>{0} << 1;
        QTest::newRow("automatic, SAVE_DAYS -2 keeps today") << true << -2 << 1 << QList<int>{0} << 1;
        QTest::newRow("manual keeps today, no probe") << false << 7 << 2 << QList<int>{0} << 0;
    }

    void modesOfTheWorker()
    {
        QFETCH(bool, automatic);
        QFETCH(int, saveDays);
        QFETCH(int, mode);
        QFETCH(QList<int>, survivors);
        QFETCH(int, probes);
        QTemporaryDir dir;
        for (int age = 0; age <= 3; ++age)
            makeDay(dir.path(), age);

        CleanWorkThread worker;
        worker.setImageRoot(dir.path());
        worker.setClock([this] { return m_today; });
        worker.setSaveDays(saveDays);
        int probeCalls = 0;
        worker.setFreeSpaceProbe([&probeCalls](const QString &) {
            ++probeCalls;
            return CleanWorkThread::VolumeSpace{1000, 900};
        });
        connect(&worker, &CleanWorkThread::workStart, &worker, &CleanWorkThread::setSel);
        connect(&worker, &CleanWorkThread::workStartAuto, &worker, &CleanWorkThread::setSelAuto);
        QSignalSpy finished(&worker, &CleanWorkThread::workFinished);
        if (automatic)
            worker.startWorkAuto();
        else
            worker.startWork();
        QCOMPARE(worker.mode(), mode);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dayAges(dir.path()), survivors);
        QCOMPARE(probeCalls, probes);
    }

    void escalation_data()
    {
        QTest::addColumn<int>("saveDays");
        // The disk is short (5 % free) while a day folder of this age or older is left.
        QTest::addColumn<int>("shortWhileAge");
        QTest::addColumn<QList<int>>("survivors");
        // The oldest day left at each look at the free space.
        QTest::addColumn<QList<int>>("oldestAtProbe");
        QTest::newRow("enough room") << 7 << 100 << range(0, 6) << QList<int>{6};
        QTest::newRow("room after day 4 went") << 7 << 4 << range(0, 3) << QList<int>{6, 5, 4, 3};
        QTest::newRow("always short: down to yesterday")
            << 7 << 0 << QList<int>{0, 1} << QList<int>{6, 5, 4, 3, 2, 1};
        QTest::newRow("SAVE_DAYS 3, short") << 3 << 0 << QList<int>{0, 1} << QList<int>{2, 1};
        QTest::newRow("SAVE_DAYS 2: no escalation") << 2 << 0 << QList<int>{0, 1} << QList<int>{1};
        QTest::newRow("SAVE_DAYS 1: no escalation") << 1 << 0 << QList<int>{0} << QList<int>{0};
    }

    void escalation()
    {
        QFETCH(int, saveDays);
        QFETCH(int, shortWhileAge);
        QFETCH(QList<int>, survivors);
        QFETCH(QList<int>, oldestAtProbe);
        QTemporaryDir dir;
        for (int age = 0; age <= 10; ++age)
            makeDay(dir.path(), age);

        CleanWorkThread worker;
        worker.setImageRoot(dir.path());
        worker.setClock([this] { return m_today; });
        worker.setSaveDays(saveDays);
        QList<int> seen;
        worker.setFreeSpaceProbe([&](const QString &root) {
            const QList<int> ages = dayAges(root);
            const int oldest = ages.isEmpty() ? -1 : ages.last();
            seen << oldest;
            return CleanWorkThread::VolumeSpace{1000, oldest >= shortWhileAge ? 50 : 500};
        });
        worker.setSelAuto();
        StdoutCapture out;
        worker.doWork();
        QCOMPARE(dayAges(dir.path()), survivors);
        QCOMPARE(seen, oldestAtProbe);
        QCOMPARE(out.text(), QByteArray());
    }

    // Making room after a write failed for lack of space: whole frames of every day first,
    // oldest first and today's too, then the NG images of older days; never today's.
    void makingRoom_data()
    {
        QTest::addColumn<int>("saveDays");
        // The disk is short (5 % free) while more image files than this are left.
        QTest::addColumn<int>("shortWhileMore");
        QTest::addColumn<QStringList>("survivors");
        const QStringList all{"0/ALL", "0/ng", "0/ng_result", "1/ALL", "1/ng", "1/ng_result",
                              "2/ALL", "2/ng", "2/ng_result"};
        QTest::newRow("enough room") << 7 << 100 << all;
        QTest::newRow("beyond SAVE_DAYS first") << 2 << 100 << QStringList(all.mid(0, 6));
        QTest::newRow("the oldest day's whole frames")
            << 7 << 8 << (QStringList{"0/ALL", "0/ng", "0/ng_result", "1/ALL", "1/ng", "1/ng_result", "2/ng", "2/ng_result"});
        QTest::newRow("every day's whole frames, today's too")
            << 7 << 6 << (QStringList{"0/ng", "0/ng_result", "1/ng", "1/ng_result", "2/ng", "2/ng_result"});
        QTest::newRow("then the oldest day's NG images")
            << 7 << 4 << (QStringList{"0/ng", "0/ng_result", "1/ng", "1/ng_result"});
        QTest::newRow("always short: today's NG images stay") << 7 << 0 << (QStringList{"0/ng", "0/ng_result"});
    }

    void makingRoom()
    {
        QFETCH(int, saveDays);
        QFETCH(int, shortWhileMore);
        QFETCH(QStringList, survivors);
        QTemporaryDir dir;
        for (int age = 0; age <= 2; ++age)
            for (const QString kind : {"ALL", "ng/0", "ng_result/0"})
                makeFile(dir.path() + "/" + day(age) + "/2/" + kind + "/img.jpg");

        CleanWorkThread worker;
        worker.setImageRoot(dir.path());
        worker.setClock([this] { return m_today; });
        worker.setSaveDays(saveDays);
        const auto images = [&dir] {
            QStringList found;
            QDirIterator it(dir.path(), {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                found << it.next();
            return found;
        };
        worker.setFreeSpaceProbe([&](const QString &) {
            return CleanWorkThread::VolumeSpace{1000, images().size() > shortWhileMore ? 50 : 500};
        });
        connect(&worker, &CleanWorkThread::workStartRoom, &worker, &CleanWorkThread::setSelRoom);
        StdoutCapture out;
        worker.startWorkRoom();
        QStringList left;
        for (const QString &path : images()) {
            const QStringList parts = path.mid(dir.path().size() + 1).split('/');
            left << QString::number(QDate::fromString(parts[0], "yyyy-MM-dd").daysTo(m_today)) + "/" + parts[2];
        }
        left.sort();
        QCOMPARE(left, survivors);
        // Emptied folders of past days go with their images.
        QList<int> ages;
        for (const QString &kept : survivors)
            if (!ages.contains(kept.section('/', 0, 0).toInt()))
                ages << kept.section('/', 0, 0).toInt();
        QCOMPARE(dayAges(dir.path()), ages);
    }

    void volumeOfUnknownSizeStopsTheEscalation_data()
    {
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("free");
        QTest::newRow("size 0") << qint64(0) << qint64(0);
        QTest::newRow("size 0, free reported") << qint64(0) << qint64(5);
        QTest::newRow("negative free") << qint64(1000) << qint64(-1);
    }

    void volumeOfUnknownSizeStopsTheEscalation()
    {
        QFETCH(qint64, total);
        QFETCH(qint64, free);
        QTemporaryDir dir;
        for (int age = 0; age <= 10; ++age)
            makeDay(dir.path(), age);
        CleanWorkThread worker;
        worker.setImageRoot(dir.path());
        worker.setClock([this] { return m_today; });
        worker.setSaveDays(7);
        int probeCalls = 0;
        worker.setFreeSpaceProbe([&](const QString &) {
            ++probeCalls;
            return CleanWorkThread::VolumeSpace{total, free};
        });
        worker.setSelAuto();
        StdoutCapture out;
        worker.doWork();
        QCOMPARE(dayAges(dir.path()), range(0, 6));
        QCOMPARE(probeCalls, 1);
        const QByteArray text = out.text();
        QCOMPARE(text.count('\n'), 1);
        QVERIFY2(text.contains("can't be read"), text.constData());
    }

    void diskFullBelowATenth_data()
    {
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("free");
        QTest::addColumn<bool>("full");
        QTest::newRow("exactly a tenth") << qint64(1000) << qint64(100) << false;
        QTest::newRow("just under") << qint64(1000) << qint64(99) << true;
        QTest::newRow("nothing free") << qint64(1000) << qint64(0) << true;
        QTest::newRow("all free") << qint64(1000) << qint64(1000) << false;
        QTest::newRow("tiny volume") << qint64(9) << qint64(0) << true;
        QTest::newRow("8 PB, 7 % free") << qint64(8000000000000000) << qint64(560000000000000) << true;
        QTest::newRow("8 PB, 12 % free") << qint64(8000000000000000) << qint64(960000000000000) << false;
        QTest::newRow("size unknown") << qint64(0) << qint64(0) << false;
    }

    void diskFullBelowATenth()
    {
        QFETCH(qint64, total);
        QFETCH(qint64, free);
        QFETCH(bool, full);
        QCOMPARE(CleanWorkThread::diskFull({total, free}), full);
    }

    void missingStoreStillMeasuresItsVolume()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + "/data/image/";
        const CleanWorkThread::VolumeSpace space = CleanWorkThread::volumeSpace(root);
        QVERIFY(space.totalBytes > 0);
        QVERIFY(space.freeBytes >= 0 && space.freeBytes <= space.totalBytes);

        CleanWorkThread worker;
        worker.setImageRoot(root);
        worker.setSaveDays(3);
        int probeCalls = 0;
        worker.setFreeSpaceProbe([&](const QString &) {
            ++probeCalls;
            return CleanWorkThread::VolumeSpace{1000, 10};
        });
        worker.setSelAuto();
        worker.doWork();
        QCOMPARE(probeCalls, 2); // after SAVE_DAYS, and after keeping two days
        QVERIFY(!QFileInfo::exists(root));
    }

    void runnerRunsOnThreadsOfTheirOwn()
    {
        QTemporaryDir dir;
        for (int age = 0; age <= 5; ++age)
            makeDay(dir.path(), age);
        const int savedDays = g_sys_conf.SAVE_DAYS;
        g_sys_conf.SAVE_DAYS = 3;
        auto token = std::make_shared<int>(0);
        auto runner = std::make_unique<CleanupRunner>();
        runner->setImageRoot(dir.path());
        runner->setClock([this] { return m_today; });
        runner->setFreeSpaceProbe([token](const QString &) {
            return CleanWorkThread::VolumeSpace{1000, 900};
        });
        QSignalSpy finished(runner.get(), &CleanupRunner::cleanupFinished);

        runner->start(true);
        QVERIFY(finished.wait());
        QCOMPARE(finished.takeFirst(), QList<QVariant>{true});
        QCOMPARE(dayAges(dir.path()), (QList<int>{0, 1, 2}));

        // Overlapping runs don't coordinate; both finish.
        runner->startAuto();
        runner->startManual();
        while (finished.count() < 2)
            QVERIFY(finished.wait());
        QCOMPARE(dayAges(dir.path()), QList<int>{0});

        // Runs that make room go one at a time: asked again while busy, nothing starts.
        QSignalSpy roomMade(runner.get(), &CleanupRunner::roomMade);
        QVERIFY(runner->makeRoom());
        QVERIFY(!runner->makeRoom());
        QVERIFY(roomMade.wait());
        QVERIFY(runner->makeRoom());
        QVERIFY(roomMade.wait());
        g_sys_conf.SAVE_DAYS = savedDays;

        // The runner's copy and every worker's copy of the probe hold the token: once the
        // runner is gone, no worker is left.
        runner->startAuto();
        runner.reset();
        QCOMPARE(token.use_count(), 1L);
    }
};

QTEST_GUILESS_MAIN(tst_ImageCleanup)
#include "tst_imagecleanup.moc"
