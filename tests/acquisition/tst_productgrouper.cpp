#include "EdgeLateness.h"
#include "ProductGrouper.h"

#include <QtTest>

// Product windows from frame times: a line at 600 products/min shoots three frames 13 ms
// apart in each 100 ms period.
class tst_ProductGrouper : public QObject
{
    Q_OBJECT

private slots:
    void steps_data()
    {
        QTest::addColumn<int>("shots");
        QTest::addColumn<QString>("events"); // fT a whole frame at T ms, bT a broken one, iT idle at T
        QTest::addColumn<QString>("steps");  // O open, D deliver, C close; one group per event

        // The first products begin before the line's rhythm is known: they are not delivered.
        const QString three = "f0 f13 f26 f100 f113 f126 f200 f213 f226 ";
        const QString learnt = "O - C O - C O - DC";
        QTest::newRow("whole products") << 3 << three << learnt;
        QTest::newRow("one shot each") << 1 << "f0 f100 f200" << "ODC ODC ODC";
        QTest::newRow("a broken frame") << 3 << three + "f300 b313 f326 f400 f413 f426" << learnt + " O - C O - DC";
        QTest::newRow("the middle shot lost") << 3 << three + "f300 f326 f400 f413 f426" << learnt + " O - CO - DC";
        QTest::newRow("the last shot lost") << 3 << three + "f300 f313 f400 f413 f426" << learnt + " O - CO - DC";
        QTest::newRow("the first shot lost") << 3 << three + "f313 f326 f400 f413 f426" << learnt + " O - CO - DC";
        QTest::newRow("the line stops after a product cut short")
            << 3 << three + "f300 f313 i330 i400" << learnt + " O - - C";
        QTest::newRow("its last frame comes after idle gave up")
            << 3 << three + "f300 f313 i380 f326 f400 f413 f426" << learnt + " O - C - O - DC";
        QTest::newRow("started in the middle of a product")
            << 3 << "f20 f33 f100 f113 f126 f200 f213 f226 f300 f313 f326" << "O - C O - C O - CO - DC";
        QTest::newRow("idle before the rhythm is known") << 3 << "f0 f13 f26 i60 f100 f113 f126"
                                                         << "O - C - O - C";
        QTest::newRow("shots spread wider") << 2 << "f0 f13 f100 f113 f200 f225 f300 f325 f400 f425"
                                            << "O C O C O DC O DC O DC";
    }

    void steps()
    {
        QFETCH(int, shots);
        QFETCH(QString, events);
        QFETCH(QString, steps);
        ProductGrouper grouper(shots);
        QStringList seen;
        for (const QString &event : events.split(' ', Qt::SkipEmptyParts)) {
            std::vector<ProductGrouper::Step> out;
            const uint64_t t = event.mid(1).toULongLong() * 1000000;
            if (event[0] == 'i')
                grouper.idle(t, out);
            else
                grouper.frame(t, event[0] == 'f', out);
            QString s;
            for (ProductGrouper::Step step : out)
                s += step == ProductGrouper::Step::Open ? 'O' : step == ProductGrouper::Step::Deliver ? 'D' : 'C';
            seen << (s.isEmpty() ? QStringLiteral("-") : s);
        }
        QCOMPARE(seen.join(' '), steps);
    }

    // Rising edges every 100 ms of frame time, handled some ms after their frame: the
    // quickest recent one is on time, and one more than half a period behind it is said.
    void edgeLateness_data()
    {
        QTest::addColumn<QList<int>>("handledAfter"); // ms after each edge's frame time
        QTest::addColumn<QList<int>>("late");         // ms beyond the quickest so far
        QTest::addColumn<QString>("overHalf");        // per edge: x over half a period, . not
        QTest::addColumn<QList<int>>("opensAt");      // ms from the nth period's start; none: 0

        QTest::newRow("steady") << QList<int>{20, 20, 21, 20, 20, 22} << QList<int>{0, 0, 1, 0, 0, 2} << "......"
                                << QList<int>{};
        QTest::newRow("a broken first frame 55 ms late")
            << QList<int>{40, 40, 41, 40, 40, 95, 40} << QList<int>{0, 0, 1, 0, 0, 55, 0} << ".....x." << QList<int>{};
        QTest::newRow("just half a period is not over it")
            << QList<int>{10, 10, 10, 10, 10, 60, 61} << QList<int>{0, 0, 0, 0, 0, 50, 51} << "......x" << QList<int>{};
        QTest::newRow("late before the period is known") << QList<int>{10, 90, 10} << QList<int>{0, 80, 0} << "..."
                                                         << QList<int>{};
        QTest::newRow("a quicker edge later sets on time anew")
            << QList<int>{50, 50, 50, 50, 50, 5, 60} << QList<int>{0, 0, 0, 0, 0, 0, 55} << "......x" << QList<int>{};
        // The first frame never came: the second, 13 ms into the product, opens it.
        QTest::newRow("opened by the second frame, late from the product's start")
            << QList<int>{40, 40, 40, 40, 40, 80, 40} << QList<int>{0, 0, 0, 0, 0, 53, 0} << ".....x."
            << QList<int>{0, 0, 0, 0, 0, 13, 0};
        QTest::newRow("a line slowing down is not late")
            << QList<int>{40, 40, 40, 40, 40, 40, 40, 40, 40} << QList<int>{0, 0, 0, 0, 0, 5, 10, 15, 20}
            << "........." << QList<int>{0, 0, 0, 0, 0, 5, 15, 30, 50};
        QTest::newRow("after a pause, from the frame's own time")
            << QList<int>{40, 40, 40, 40, 40, 40, 40} << QList<int>{0, 0, 0, 0, 0, 0, 0} << "......."
            << QList<int>{0, 0, 0, 0, 0, 413, 413};
        QTest::newRow("a frame a little early")
            << QList<int>{40, 40, 40, 40, 40, 40} << QList<int>{0, 0, 0, 0, 0, 0} << "......"
            << QList<int>{0, 0, 0, 0, 0, -20};
    }

    void edgeLateness()
    {
        QFETCH(QList<int>, handledAfter);
        QFETCH(QList<int>, late);
        QFETCH(QString, overHalf);
        QFETCH(QList<int>, opensAt);
        EdgeLateness lateness;
        // The camera's clock runs far from the host's: only differences count.
        const uint64_t cameraStart = 5'000'000'000ULL, hostStart = 1'796'892'474'000'000'000ULL;
        QList<int> seenLate;
        QString seenOver;
        for (int i = 0; i < handledAfter.size(); ++i) {
            const int64_t frameMs = int64_t(i) * 100 + opensAt.value(i);
            const uint64_t frame = cameraStart + uint64_t(frameMs * 1'000'000);
            const EdgeLateness::Edge e = lateness.open(frame, hostStart + uint64_t(frameMs * 1'000'000)
                                                                  + uint64_t(handledAfter[i]) * 1'000'000ULL);
            seenLate << int(e.lateNs / 1'000'000);
            seenOver += e.overHalf ? 'x' : '.';
        }
        QCOMPARE(seenLate, late);
        QCOMPARE(seenOver, overHalf);
    }
};

QTEST_MAIN(tst_ProductGrouper)
#include "tst_productgrouper.moc"
