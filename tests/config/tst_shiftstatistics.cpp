#include "TempStation.h"

#include "ShiftStatistics.h"
#include "StationPaths.h"

#include <QDir>
#include <QTextCodec>
#include <QtTest>

using ShiftStatistics::appendShiftStatistics;

namespace {

const std::array<bool, 4> kAllOpened{{true, true, true, true}};
const std::array<float, 4> kNoKicks{{0, 0, 0, 0}};

QString utf8Of(const QByteArray &gbk)
{
    return QTextCodec::codecForName("GBK")->toUnicode(gbk);
}

QByteArray statistic(int position)
{
    return TempStation::read(StationPaths::statisticFile(position));
}

} // namespace

class tst_ShiftStatistics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(QTextCodec::codecForName("GBK")); }
    void init() { g_last_shift = ShiftStatistics::kNoShiftWritten; }

    void shiftLine_data()
    {
        QTest::addColumn<int>("shiftIndex");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<float>("kicks");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1000 boxes, 25 kicks")
            << 0 << qint64(1000) << 25.0f
            << QStringLiteral("A     总产量:0000001000      剔除率:2.50000%      合格率:97.50000%   \n");
        QTest::newRow("no kicks") << 1 << qint64(1) << 0.0f
                                  << QStringLiteral("B     总产量:0000000001      剔除率:0.00000%      合格率:100.00000%   \n");
        QTest::newRow("all kicked") << 2 << qint64(7) << 7.0f
                                    << QStringLiteral("C     总产量:0000000007      剔除率:100.00000%      合格率:0.00000%   \n");
        // The reject rate is single precision: 100/3 prints as 33.33334.
        QTest::newRow("other index is C") << 5 << qint64(3) << 1.0f
                                          << QStringLiteral("C     总产量:0000000003      剔除率:33.33334%      合格率:66.66667%   \n");
        QTest::newRow("64-bit total") << 0 << qint64(12345678901LL) << 0.0f
                                      << QStringLiteral("A     总产量:12345678901      剔除率:0.00000%      合格率:100.00000%   \n");
        QTest::newRow("largest 32-bit PLC total") << 1 << qint64(2147483647) << 2147483647.0f
                                                  << QStringLiteral("B     总产量:2147483647      剔除率:100.00000%      合格率:0.00000%   \n");
    }

    void shiftLine()
    {
        QFETCH(int, shiftIndex);
        QFETCH(qint64, total);
        QFETCH(float, kicks);
        QFETCH(QString, expected);
        QCOMPARE(utf8Of(ShiftStatistics::shiftLine(shiftIndex, total, kicks)), expected);
    }

    void shiftLineIsGbk()
    {
        const QByteArray line = ShiftStatistics::shiftLine(0, 1000, 25);
        QCOMPARE(line,
                 QByteArray("A     \xd7\xdc\xb2\xfa\xc1\xbf:0000001000      \xcc\xde\xb3\xfd\xc2\xca:2.50000%"
                            "      \xba\xcf\xb8\xf1\xc2\xca:97.50000%   \n"));
    }

    void dayHeader()
    {
        QCOMPARE(ShiftStatistics::dayHeader(QDate(2022, 9, 5)),
                 "\n\n" + QByteArray(86, '*') + "\n2022-09-05 :\n");
    }

    void headerAfterStartUpAndAfterC()
    {
        TempStation station;
        QVERIFY(station.isValid());
        const QDate day(2022, 9, 5);
        const QByteArray header = ShiftStatistics::dayHeader(day);
        const std::array<float, 4> kicks{{25, 0, 0, 0}};
        const std::array<bool, 4> first{{true, false, false, false}};

        QCOMPARE(appendShiftStatistics(1000, 0, kicks, first, day), 1);   // after start-up
        QCOMPARE(g_last_shift, 0);
        QCOMPARE(appendShiftStatistics(1000, 1, kicks, first, day), 1);   // after A
        QCOMPARE(appendShiftStatistics(1000, 2, kicks, first, day), 1);   // after B
        QCOMPARE(appendShiftStatistics(1000, 0, kicks, first, day.addDays(1)), 1);   // after C
        QCOMPARE(g_last_shift, 0);

        const QByteArray a = ShiftStatistics::shiftLine(0, 1000, 25);
        const QByteArray b = ShiftStatistics::shiftLine(1, 1000, 25);
        const QByteArray c = ShiftStatistics::shiftLine(2, 1000, 25);
        QCOMPARE(statistic(0), header + a + b + c + ShiftStatistics::dayHeader(day.addDays(1)) + a);
        QVERIFY(!QFile::exists(StationPaths::statisticFile(1)));
    }

    void appendsToEarlierRecords()
    {
        TempStation station;
        QVERIFY(TempStation::write(StationPaths::statisticFile(2), "earlier\n"));
        g_last_shift = 0;
        QCOMPARE(appendShiftStatistics(10, 1, kNoKicks, kAllOpened), 4);
        QCOMPARE(statistic(2), "earlier\n" + ShiftStatistics::shiftLine(1, 10, 0));
    }

    void eachPositionItsOwnKicks()
    {
        TempStation station;
        g_last_shift = 1;
        const std::array<float, 4> kicks{{25, 50, 0, 1000}};
        QCOMPARE(appendShiftStatistics(1000, 0, kicks, kAllOpened), 4);
        QVERIFY(utf8Of(statistic(0)).contains(QStringLiteral("剔除率:2.50000%      合格率:97.50000%")));
        QVERIFY(utf8Of(statistic(1)).contains(QStringLiteral("剔除率:5.00000%      合格率:95.00000%")));
        QVERIFY(utf8Of(statistic(2)).contains(QStringLiteral("剔除率:0.00000%      合格率:100.00000%")));
        QVERIFY(utf8Of(statistic(3)).contains(QStringLiteral("剔除率:100.00000%      合格率:0.00000%")));
    }

    void onlyOpenedPositions()
    {
        TempStation station;
        const std::array<bool, 4> opened{{false, true, false, true}};
        QCOMPARE(appendShiftStatistics(5, 0, kNoKicks, opened), 2);
        QVERIFY(!QFile::exists(StationPaths::statisticFile(0)));
        QVERIFY(QFile::exists(StationPaths::statisticFile(1)));
        QVERIFY(!QFile::exists(StationPaths::statisticFile(2)));
        QVERIFY(QFile::exists(StationPaths::statisticFile(3)));
    }

    void totalBelowOneWritesNothing_data()
    {
        QTest::addColumn<qint64>("total");
        QTest::newRow("0") << qint64(0);
        QTest::newRow("negative") << qint64(-5);
    }

    void totalBelowOneWritesNothing()
    {
        QFETCH(qint64, total);
        TempStation station;
        QCOMPARE(appendShiftStatistics(total, 1, kNoKicks, kAllOpened), 0);
        for (int k = 0; k < 4; ++k)
            QVERIFY(!QFile::exists(StationPaths::statisticFile(k)));
        // The shift still counts as written: the next write after it gets no header.
        QCOMPARE(g_last_shift, 1);
        QCOMPARE(appendShiftStatistics(3, 2, kNoKicks, kAllOpened), 4);
        QCOMPARE(statistic(0), ShiftStatistics::shiftLine(2, 3, 0));
    }

    void unopenableFileSkipped()
    {
        TempStation station;
        QVERIFY(QDir().mkpath(StationPaths::statisticFile(1)));   // a folder in its place
        QCOMPARE(appendShiftStatistics(100, 0, kNoKicks, kAllOpened), 3);
        QVERIFY(QFile::exists(StationPaths::statisticFile(0)));
        QVERIFY(QFile::exists(StationPaths::statisticFile(2)));
        QCOMPARE(g_last_shift, 0);
    }
};

QTEST_GUILESS_MAIN(tst_ShiftStatistics)
#include "tst_shiftstatistics.moc"
