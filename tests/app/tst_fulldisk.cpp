// The whole working station saving every image (SAVE=2) into an image store on a small
// volume of its own that older days' whole frames have filled: the first write that finds
// no space frees room at once, oldest whole frames first, older NG images kept; the band
// says so once and clears only when saving has held a while; verdicts never wait.
// GLUEBOX_SMALL_VOLUME names an empty volume for the store (on-small-volume.sh mounts one
// in a mount namespace of the test's own); without it the test is skipped.
#include "AnsweredMessages.h"
#include "Gluebox.h"
#include "LineSimulator.h"
#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "ProductAccount.h"
#include "SaveThread.h"
#include "SimulatedStation.h"
#include "StationFonts.h"
#include "TempStation.h"
#include "WorkingStation.h"
#include "WriteTroubles.h"

#include <QDate>
#include <QElapsedTimer>
#include <QStorageInfo>
#include <QtTest>

#include <algorithm>

using namespace WorkingStation;

class tst_Gluebox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<cv::Mat>("cv::Mat");
        StationFonts::install();
    }

    void fullVolumeIsRelievedAtOnce()
    {
        const QString volume = qEnvironmentVariable("GLUEBOX_SMALL_VOLUME");
        if (volume.isEmpty())
            QSKIP("no small volume (GLUEBOX_SMALL_VOLUME) to fill");
        const QStorageInfo space(volume);
        QVERIFY(space.isValid() && space.bytesTotal() > 0);

        TempStation station;
        QVERIFY(WorkingStation::layOut(station));
        QByteArray settings = TempStation::read(QStringLiteral("../conf/conf.txt"));
        QVERIFY(settings.contains("SAVE=1") && settings.contains("SAVE_DAYS=1"));
        QVERIFY(TempStation::write(QStringLiteral("../conf/conf.txt"), settings.replace("SAVE=1", "SAVE=2").replace("SAVE_DAYS=1", "SAVE_DAYS=7")));
        const QString images = station.path("data/image");
        QDir(images).removeRecursively();
        QVERIFY(QFile::link(volume, images));

        // An older day's whole frames fill the volume but for 5 %; its NG images are small.
        // The day is kept for its age (SAVE_DAYS=7): only the lack of room removes it.
        const QString oldDay = images + QDate::currentDate().addDays(-3).toString("/yyyy-MM-dd");
        for (const char *folder : {"/1/ng/1", "/1/ALL"})
            QVERIFY(QDir().mkpath(oldDay + folder));
        QVERIFY(TempStation::write(oldDay + "/1/ng/1/old_ng_1.jpg", QByteArray(50 * 1024, 'n')));
        const QByteArray filler(1024 * 1024, 'a');
        for (int i = 0; QStorageInfo(volume).bytesFree() > space.bytesTotal() / 20 + qint64(filler.size()); ++i)
            QVERIFY(TempStation::write(oldDay + QStringLiteral("/1/ALL/old_%1.jpg").arg(i), filler));

        PlcAddrMap addr;
        QVERIFY(readPlcAddrMap(addr));
        QString error;
        std::unique_ptr<PlcSimulator> plc = startPlc(addr, &error);
        if (!plc)
            QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));

        AnsweredMessages messages;
        {
            Gluebox window;
            LineSimulator &line = window.m_simulation->line();
            QElapsedTimer clock;
            clock.start();
            struct Shown { qint64 at; QString text; };
            QList<Shown> band;
            connect(window.m_troubles, &WriteTroubles::shown, this,
                    [&](const QString &text, const QString &) { band.append({clock.elapsed(), text}); });

            // Filled within seconds, relieved at the first failed write, then saving holds.
            QTRY_VERIFY_WITH_TIMEOUT(!band.isEmpty(), 30000);
            QVERIFY2(band.first().text.startsWith("Images are not being saved: cannot write "),
                     qPrintable(band.first().text));
            QVERIFY2(band.first().text.contains("no space left on the volume"), qPrintable(band.first().text));
            QTRY_VERIFY_WITH_TIMEOUT(!QDir(oldDay + "/1/ALL").exists(), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(band.size() >= 2, 30000);
            QVERIFY2(band.at(1).text.startsWith("Image saving works again ("), qPrintable(band.at(1).text));
            // Held for kSteadyMs on the saving thread; each line reaches the GUI a little late.
            QVERIFY(band.at(1).at - band.first().at >= SaveThread::kSteadyMs - 500);

            const LineSimulator::Counters before[2] = {line.counters(0), line.counters(1)};
            const uint64_t unjudgedBefore[2] = {g_product_account[0].unjudged(), g_product_account[1].unjudged()};
            QTest::qWait(10000);
            QCOMPARE(band.size(), 2); // no flapping
            QVERIFY(QStorageInfo(volume).bytesFree() > space.bytesTotal() / 10);
            for (int c = 0; c < 2; ++c) {
                const LineSimulator::Counters now = line.counters(c);
                const int products = now.products - before[c].products;
                const int unjudged = int(g_product_account[c].unjudged() - unjudgedBefore[c]);
                const QByteArray where = QStringLiteral("camera %1: products %2, ng %3, missed %4, unjudged %5, paired wrong %6")
                                             .arg(c + 1).arg(products).arg(now.ngProducts - before[c].ngProducts)
                                             .arg(now.missedEjections - before[c].missedEjections).arg(unjudged)
                                             .arg(now.pairedWrong - before[c].pairedWrong)
                                             .toUtf8();
                qInfo("%s", where.constData());
                QVERIFY2(products >= 50, where);
                QVERIFY2(unjudged <= std::max(3, products / 25), where);
                QVERIFY2(now.pairedWrong - before[c].pairedWrong <= 1, where);
                const QString camera = QString::number(c + 1);
                QVERIFY(TempStation::filesOnEveryDay(images, camera + "/ALL") > 0);
                QVERIFY(TempStation::filesOnEveryDay(images, camera + "/ng_result") > 0);
            }
            // Older NG images go only when whole frames could not make room.
            QVERIFY(QFile::exists(oldDay + "/1/ng/1/old_ng_1.jpg"));
            window.OnExit();
            QVERIFY(messages.shown.isEmpty());
        }
        plc->stop();

        const QByteArray log = TempStation::readLogs(station.path(QStringLiteral("data/log")));
        QCOMPARE(linesWith(log, "Images are not being saved: cannot write "), 1);
        QCOMPARE(linesWith(log, "Image store short of space: whole-frame images of 1 day(s) and NG images of 0 day(s) deleted; "), 1);
        QCOMPARE(linesWith(log, "Image saving works again ("), 1);
    }
};

QTEST_MAIN(tst_Gluebox)
#include "tst_fulldisk.moc"
