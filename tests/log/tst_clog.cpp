#include "CLog.h"
#include "StdoutCapture.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

// The operation log: its line format, day files and roll-over, and its own thread.
class tst_CLog : public QObject
{
    Q_OBJECT

private:
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

signals:
    void message(QString text);

private slots:
    void lineFormatAndPercentSigns()
    {
        QTemporaryDir dir;
        const QDateTime t(QDate(2022, 9, 1), QTime(8, 0, 5, 123));
        CLog log(dir.path() + "/log", [t] { return t; });
        log.recMegFromGluebox("Application Start.");
        log.recMegFromGluebox("100% done %1 %s %%");
        const QString file = dir.path() + "/log/2022-09-01.txt";
        QCOMPARE(log.fileNameFor(t), file);
        QCOMPARE(read(file), QByteArray("[2022-09-01 08:00:05:123][INFO] Application Start.\n"
                                        "[2022-09-01 08:00:05:123][INFO] 100% done %1 %s %%\n"));
    }

    void rollsOverWithTheFirstMessageAfterMidnight()
    {
        QTemporaryDir dir;
        QDateTime now(QDate(2022, 9, 1), QTime(23, 59, 59, 999));
        CLog log(dir.path(), [&now] { return now; });
        log.recMegFromGluebox("before");
        now = QDateTime(QDate(2022, 9, 2), QTime(0, 0, 0, 1));
        log.recMegFromGluebox("after");
        log.recMegFromGluebox("later");
        QCOMPARE(read(dir.path() + "/2022-09-01.txt"),
                 QByteArray("[2022-09-01 23:59:59:999][INFO] before\n"));
        QCOMPARE(read(dir.path() + "/2022-09-02.txt"),
                 QByteArray("[2022-09-02 00:00:00:001][INFO] after\n"
                            "[2022-09-02 00:00:00:001][INFO] later\n"));
    }

    void restartOnTheSameDayAppends()
    {
        QTemporaryDir dir;
        QDateTime now(QDate(2023, 1, 2), QTime(9, 0));
        {
            CLog first(dir.path(), [&now] { return now; });
            first.recMegFromGluebox("Application Start.");
            first.recMegFromGluebox("Application exited.");
        }
        now = now.addSecs(60);
        CLog second(dir.path(), [&now] { return now; });
        second.recMegFromGluebox("Application Start.");
        const QList<QByteArray> lines = read(dir.path() + "/2023-01-02.txt").split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the empty rest
        QVERIFY(lines.at(2).startsWith("[2023-01-02 09:01:00:000][INFO] Application Start."));
    }

    void createsMissingFoldersAndRecreatesARemovedFile()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/a/b/log";
        const QDateTime t(QDate(2024, 2, 29), QTime(12, 0));
        CLog log(folder, [t] { return t; });
        log.recMegFromGluebox("one");
        QVERIFY(QFile::exists(folder + "/2024-02-29.txt"));
        QVERIFY(QFile::remove(folder + "/2024-02-29.txt"));
        log.recMegFromGluebox("two");
        QCOMPARE(read(folder + "/2024-02-29.txt"), QByteArray("[2024-02-29 12:00:00:000][INFO] two\n"));
    }

    void unusableFolderDropsMessagesQuietly()
    {
        QTemporaryDir dir;
        QFile blocker(dir.path() + "/file");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        CLog log(dir.path() + "/file/log");
        log.recMegFromGluebox("lost");
        QVERIFY(!QFile::exists(dir.path() + "/file/log"));
    }

    // Lost messages are reported once, not per message, and writing resumes by itself.
    void lossReportedOnceAndWritingResumes_data()
    {
        QTest::addColumn<QString>("blocker"); // what stands in the way
        QTest::newRow("folder is a file") << "folder";
        QTest::newRow("disk full") << "full";
    }

    void lossReportedOnceAndWritingResumes()
    {
        QFETCH(QString, blocker);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/log";
        const QDateTime t(QDate(2024, 5, 1), QTime(7, 0));
        CLog log(folder, [t] { return t; });
        const QString file = log.fileNameFor(t);
        if (blocker == "folder") {
            QFile f(folder);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else {
            if (!QFile::exists("/dev/full"))
                QSKIP("no /dev/full on this machine");
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::link("/dev/full", file));
        }
        QSignalSpy trouble(&log, &CLog::writeTrouble);
        StdoutCapture out;
        for (int i = 0; i < 3; ++i)
            log.recMegFromGluebox("lost " + QString::number(i));
        QCOMPARE(trouble.count(), 1);
        const QString first = trouble.at(0).at(0).toString();
        QCOMPARE(trouble.at(0).at(1).toBool(), true); // failing
        QVERIFY2(first.startsWith("Operation log: cannot write " + file + " ("), qPrintable(first));
        QCOMPARE(out.text(), first.toLocal8Bit() + '\n');

        QVERIFY(QFile::remove(blocker == "folder" ? folder : file));
        log.recMegFromGluebox("back");
        QCOMPARE(trouble.count(), 2);
        QCOMPARE(trouble.at(1).at(0).toString(),
                 "Operation log: writing to " + file + " again; 3 message(s) were lost.");
        QCOMPARE(trouble.at(1).at(1).toBool(), false);
        QCOMPARE(read(file), QByteArray("[2024-05-01 07:00:00:000][INFO] back\n"));
    }

    void queuedFromAnotherThreadInOrder()
    {
        QTemporaryDir dir;
        const QDateTime t(QDate(2022, 9, 1), QTime(8, 0));
        QThread thread;
        CLog *log = new CLog(dir.path(), [t] { return t; });
        log->moveToThread(&thread);
        connect(&thread, &QThread::finished, log, &QObject::deleteLater);
        connect(this, &tst_CLog::message, log, &CLog::recMegFromGluebox);
        thread.start();
        for (int i = 0; i < 500; ++i)
            emit message(QString::number(i));
        QMetaObject::invokeMethod(log, [&thread] { thread.quit(); }, Qt::QueuedConnection);
        QVERIFY(thread.wait(10000));
        const QList<QByteArray> lines = read(dir.path() + "/2022-09-01.txt").split('\n');
        QCOMPARE(lines.size(), 501);
        for (int i = 0; i < 500; ++i)
            QCOMPARE(lines.at(i), "[2022-09-01 08:00:00:000][INFO] " + QByteArray::number(i));
    }
};

QTEST_GUILESS_MAIN(tst_CLog)
#include "tst_clog.moc"
