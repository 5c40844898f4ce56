// The whole working station on real GigE Vision: no camsim.txt, so the station drives
// two simulated GigE Vision cameras on loopback (each with its own packing line at 600
// products/min, three shots a product, one bad product in ten) through GenICam, and the
// PLC simulator. Every reject pulse a camera saw is traced to the station's product it
// was meant for, product by product. Runs only in a network namespace of its own.
#include "AnsweredMessages.h"
#include "AravisHikApi.h"
#include "CameraRegistry.h"
#include "CameraSlot.h"
#include "GeneratedFrameSource.h"
#include "GigeSimCamera.h"
#include "GlueDotDetector.h"
#include "Gluebox.h"
#include "LoopbackOnly.h"
#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "ProductAccount.h"
#include "StationFonts.h"
#include "TempStation.h"
#include "WorkingStation.h"

#include <QtTest>

#include <map>
#include <memory>
#include <set>

using namespace WorkingStation;

namespace {
enum class Fault { None, PacketLoss, CameraRestarted, HeldUp };

// Which of the station's products a pulse at time t was for: the last one whose outcome at
// the ejector was decided before it, since the pulse follows the decision at once. (Not
// the windows' closes: an edge held up behind a broken frame opens and closes its window
// within a millisecond, and the pulse given at it may be seen after that close.)
uint64_t productPulsedAt(const ProductAccount &account, ProductAccount::Clock::time_point t, uint64_t first,
                         uint64_t last)
{
    uint64_t found = 0;
    for (uint64_t n = first; n <= last; ++n)
        if (account.outcome(n).known && account.decidedAt(n) <= t)
            found = n;
    return found;
}
} // namespace

Q_DECLARE_METATYPE(Fault)

class tst_Gluebox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!loopbackOnly())
            QSKIP("GigE Vision discovery must not leave the machine: run in scripts/in-netns.sh");
        qRegisterMetaType<cv::Mat>("cv::Mat");
        StationFonts::install();
        // OpenCV's threading is set before the cameras' drawing threads use it, as the
        // station does before its own simulated line starts (changed under a running
        // parallel loop, it crashes).
        GlueDotDetector::chooseBackend();
    }

    void gigeStation_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::newRow("two cameras at 600 products/min") << Fault::None;
        QTest::newRow("1# loses a packet in 2,000") << Fault::PacketLoss;
        QTest::newRow("1# restarted, then alarm 7") << Fault::CameraRestarted;
        QTest::newRow("1#'s frames held up 75 ms while a bad box is at the ejector") << Fault::HeldUp;
    }

    void gigeStation()
    {
        QFETCH(Fault, fault);
        TempStation station;
        QVERIFY(WorkingStation::layOut(station));
        QVERIFY(QFile::remove(QStringLiteral("../conf/camsim.txt")));
        QByteArray settings = TempStation::read(QStringLiteral("../conf/conf.txt"));
        settings.replace("USERID1=255", "USERID1=11").replace("USERID2=255", "USERID2=12");
        QVERIFY(TempStation::write(QStringLiteral("../conf/conf.txt"), settings));

        std::unique_ptr<GigeSimCamera> cameras[2];
        for (int c = 0; c < 2; ++c) {
            GigeSimCamera::Options o;
            o.address = QStringLiteral("127.0.0.%1").arg(c + 2).toStdString();
            o.serial = "GBX" + std::to_string(11 + c);
            o.userId = std::to_string(11 + c);
            o.productsPerMinute = 600;
            o.shotsPerProduct = 3;
            o.source = std::make_shared<GeneratedFrameSource>(uint64_t(7 + c), 0.1, false, 5);
            o.packetLossRatio = fault == Fault::PacketLoss && c == 0 ? 0.0005 : 0;
            o.holdUpMs = fault == Fault::HeldUp && c == 0 ? 75 : 0;
            // The fake camera spins through the last millisecond of each tick: at 50 Hz, 5 % of
            // a core, and frames at most 20 ms after their trigger (they carry its time).
            o.triggerTickHz = 50;
            cameras[c] = std::make_unique<GigeSimCamera>(o);
            std::string error;
            QVERIFY2(cameras[c]->start(&error), error.c_str());
        }
        PlcAddrMap addr;
        QVERIFY(readPlcAddrMap(addr));
        QString error;
        std::unique_ptr<PlcSimulator> plc = startPlc(addr, &error);
        if (!plc)
            QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));

        // The station's product numbers go on from the rows before.
        const uint64_t first[2] = {g_product_account[0].lastProduct() + 1, g_product_account[1].lastProduct() + 1};
        const uint64_t unjudgedBefore[2] = {g_product_account[0].unjudged(), g_product_account[1].unjudged()};
        AnsweredMessages messages;
        AravisCamera::Counters frames[2];
        uint64_t unjudged[2] = {}; // this row's
        QString accounts[2];
        {
            Gluebox window;
            QVERIFY(g_cameras[0].found && g_cameras[1].found);
            QTRY_VERIFY_WITH_TIMEOUT(plc->coil(addr.WORK), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(window.m_check_count[0] >= 20 && window.m_check_count[1] >= 20, 20000);
            if (fault == Fault::CameraRestarted) {
                QTest::qWait(3000);
                cameras[0]->stop();
                // Aravis gives up on a camera after its heartbeat has failed for a while.
                QTRY_COMPARE_WITH_TIMEOUT(widget(window, "cam_work_1")->styleSheet(),
                                          QStringLiteral("background-color: rgb(255, 255, 0);"), 15000);
                std::string restartError;
                QVERIFY2(cameras[0]->start(&restartError), restartError.c_str());
                plc->setAlarm(7);
                QTRY_COMPARE_WITH_TIMEOUT(plc->alarm(), 0, 3000);
                QTRY_VERIFY_WITH_TIMEOUT(g_cameras[0].opened && plc->coil(addr.WORK), 10000);
                const int checked = window.m_check_count[0];
                QTRY_VERIFY_WITH_TIMEOUT(window.m_check_count[0] >= checked + 30, 20000);
            }
            QTest::qWait(20000);
            for (int c = 0; c < 2; ++c) {
                frames[c] = window.m_genicam->counters(CameraRegistry::instance().hikHandle(c));
                unjudged[c] = g_product_account[c].unjudged() - unjudgedBefore[c];
                const ProductAccount &a = g_product_account[c];
                accounts[c] = QStringLiteral("no frames %1, miscounted %2, late %3, not queued %4")
                                  .arg(a.noFrames()).arg(a.miscounted()).arg(a.late()).arg(a.notQueued());
            }
            window.OnExit();
            QVERIFY(messages.shown.isEmpty());
        }
        plc->stop();

        for (int c = 0; c < 2; ++c) {
            cameras[c]->stop();
            const GigeSimCamera::Counters seen = cameras[c]->counters();
            std::map<uint64_t, GigeSimCamera::ProductRecord> records;
            for (const GigeSimCamera::ProductRecord &r : cameras[c]->takeJudged())
                records[r.product] = r;
            const ProductAccount &account = g_product_account[c];
            const uint64_t last = account.lastProduct();
            // Each pulse the camera saw, to the station's product it was meant for.
            std::set<int64_t> offsets;
            std::map<uint64_t, int64_t> offsetAt; // station product -> camera product minus it
            std::set<uint64_t> pulsed;
            int untraced = 0;
            for (const GigeSimCamera::LineChange &change : cameras[c]->takeLineChanges()) {
                if (change.line != 1 || !change.level)
                    continue;
                const ProductAccount::Clock::time_point t = change.steadyTime;
                // A pulse after the last window closed was given at an edge whose product
                // the stop cut off: what it was for cannot be told.
                if (t > account.closedAt(last))
                    continue;
                const uint64_t n = productPulsedAt(account, t, first[c], last);
                if (n == 0 || !account.outcome(n).rejected || change.atEjector < 0) {
                    // Where it fell among the windows' closes and the decisions at the
                    // ejector (R rejected, J judged in time), for whoever looks into it.
                    uint64_t k = first[c];
                    while (k + 1 <= last && account.closedAt(k + 1) < t)
                        ++k;
                    QString around;
                    for (uint64_t j = std::max(k, first[c] + 3) - 3; j <= k + 3 && j <= last; ++j)
                        around += QStringLiteral(" %1:%2ms,%3ms%4%5")
                                      .arg(j)
                                      .arg(std::chrono::duration<double, std::milli>(t - account.closedAt(j)).count(), 0, 'f', 2)
                                      .arg(std::chrono::duration<double, std::milli>(t - account.decidedAt(j)).count(), 0, 'f', 2)
                                      .arg(account.outcome(j).rejected ? "R" : "")
                                      .arg(account.outcome(j).judged ? "J" : "");
                    qInfo("untraced pulse: product %llu, box %lld; after each close, and decision:%s", (unsigned long long)n,
                          (long long)change.atEjector, qPrintable(around));
                    ++untraced;
                    continue;
                }
                pulsed.insert(n);
                // A pulse by MISMATCHACT next to a product cut short may fall on either side
                // of the window's close; a verdict's pulse has no such doubt.
                if (!account.outcome(n).judged)
                    continue;
                offsets.insert(change.atEjector - int64_t(n));
                offsetAt[n] = change.atEjector - int64_t(n);
            }
            // Every product the station rejected was pulsed, and hit the box of its own
            // number (one offset between the two countings, two across a restart).
            int rejectedUnpulsed = 0;
            // Pictures (by the generator's label) judged against their truth: the model's
            // mistake on one picture comes back each time the line shows it again (at the
            // start, before more are drawn, the first ones are shown over and over).
            std::set<std::string> picturesAgainstTruth;
            int verdictsAgainstTruth = 0;
            int compared = 0;
            for (uint64_t n = first[c]; n + 2 <= last && !offsetAt.empty(); ++n) {
                const ProductAccount::Outcome o = account.outcome(n);
                if (o.rejected && !pulsed.count(n)) {
                    qInfo("rejected, not pulsed: product %llu%s", (unsigned long long)n, o.judged ? "" : " (not judged)");
                    ++rejectedUnpulsed;
                }
                // The offset of the nearest pulse before (or else after) this product.
                auto near = offsetAt.upper_bound(n);
                const int64_t offset = near == offsetAt.begin() ? near->second : std::prev(near)->second;
                const auto r = records.find(uint64_t(int64_t(n) + offset));
                if (o.judged && r != records.end()) {
                    ++compared;
                    if (o.good == r->second.ng) {
                        ++verdictsAgainstTruth;
                        picturesAgainstTruth.insert(r->second.label);
                    }
                }
            }
            const QByteArray where = QStringLiteral("camera %1: products %2 ng %3 ejected right %4 missed %5 wrong %6 "
                                                    "stray %7 | station %8 products, %9 unjudged | frames %10 "
                                                    "incomplete %11 cut short %12 | pulses traced %13 untraced %14 "
                                                    "offsets %15 rejected unpulsed %16 verdicts against truth %17 of %18,"
                                                    " on %19 pictures | edges over half a product late %20, pulses"
                                                    " held back %21")
                                         .arg(c + 1).arg(seen.judged).arg(seen.ngProducts).arg(seen.correctEjections)
                                         .arg(seen.missedEjections).arg(seen.wrongEjections).arg(seen.strayPulses)
                                         .arg(last + 1 - first[c]).arg(unjudged[c]).arg(frames[c].frames).arg(frames[c].incomplete)
                                         .arg(frames[c].cutShort).arg(pulsed.size()).arg(untraced)
                                         .arg(int(offsets.size())).arg(rejectedUnpulsed).arg(verdictsAgainstTruth)
                                         .arg(compared).arg(picturesAgainstTruth.size()).arg(frames[c].lateEdges)
                                         .arg(frames[c].heldPulses)
                                         .toUtf8();
            qInfo("%s (%s)", where.constData(), qPrintable(accounts[c]));
            {
                QString shifts;
                int64_t previous = INT64_MIN;
                for (const auto &p : offsetAt) {
                    if (p.second != previous)
                        shifts += QStringLiteral(" %1:%2%3").arg(p.first - first[c]).arg(p.second).arg(account.outcome(p.first).judged ? "" : "u");
                    previous = p.second;
                }
                qInfo("offset changes (product:offset):%s", qPrintable(shifts));
            }
            const bool restarted = fault == Fault::CameraRestarted && c == 0;
            QVERIFY2(last + 1 - first[c] >= 120, where);
            QCOMPARE(seen.strayPulses, uint64_t(0));
            QVERIFY2(offsets.size() == (restarted ? 2u : 1u), where);
            // After a restart the two unseen boxes ahead get MISMATCHACT, without a number.
            // An edge that came over half a product late (a broken frame the fake camera
            // never resends holds the next ones behind it, or never comes and the next one
            // opens the product) would give its pulse to the next box: the station counts
            // such edges and holds their pulses back, so each may cost a rejected product
            // without its pulse, never a pulse on the wrong box.
            const int lateEdges = int(frames[c].lateEdges);
            const bool heldUp = fault == Fault::HeldUp && c == 0;
            QVERIFY2(heldUp || lateEdges <= int(last + 1 - first[c]) / 50, where);
            QVERIFY2(int(frames[c].heldPulses) <= lateEdges, where);
            // Every bad box's pulse falls due at a late edge there: held back, not given to
            // the box after it.
            if (heldUp)
                QVERIFY2(frames[c].heldPulses >= 3 && 2 * frames[c].heldPulses >= seen.ngProducts, where);
            QVERIFY2(untraced <= (restarted ? 2 : 0), where);
            QVERIFY2(rejectedUnpulsed <= 1 + int(frames[c].heldPulses), where); // the last one's pulse may fall at the stop
            // The model's own mistakes only: a product judged on another box's pictures
            // would disagree half the time.
            QVERIFY2(compared >= 100 && int(picturesAgainstTruth.size()) <= std::max(3, compared / 33), where);
            if (fault == Fault::PacketLoss && c == 0)
                QVERIFY2(frames[c].incomplete > 0 && frames[c].cutShort > frames[c].incomplete / 3, where);
            else // none lost on purpose, yet a frame now and then comes broken (1 of 669 once on CI;
                 // see DEVELOPERS.md on the held-up row)
                QVERIFY2(frames[c].incomplete <= frames[c].frames / 200, where);
        }
    }
};

QTEST_MAIN(tst_Gluebox)
#include "tst_gigestation.moc"
