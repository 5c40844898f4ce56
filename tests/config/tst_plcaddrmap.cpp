#include "StdoutCapture.h"
#include "TempStation.h"

#include "PlcAddrMap.h"

#include <QtTest>

class tst_PlcAddrMap : public QObject
{
    Q_OBJECT

private:
    static QList<int> fields(const PlcAddrMap &m)
    {
        return {m.KICK1, m.KICK2, m.KICK3, m.KICK4, m.QUANTITY, m.SHIFT,
                m.WORK,  m.NO_KICK, m.DEBUG, m.RESET, m.ALARM};
    }

private slots:
    void missingFileLeavesEveryAddressZero()
    {
        TempStation station;
        PlcAddrMap map;
        StdoutCapture out;
        QVERIFY(!readPlcAddrMap(map));
        QCOMPARE(out.text(), QByteArray("Error: Open config file ../conf/modbus.txt\n"));
        QCOMPARE(fields(map), QVector<int>(11, 0).toList());
    }

    void lines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("all keys")
            << QByteArray("KICK1=100\nKICK2=102\nKICK3=104\nKICK4=106\nQUANTITY=110\nSHIFT=10\n"
                          "WORK=11\nNO_KICK=12\nDEBUG=13\nRESET=14\nALARM=120\n")
            << QList<int>{100, 102, 104, 106, 110, 10, 11, 12, 13, 14, 120};
        QTest::newRow("any order")
            << QByteArray("ALARM=120\r\nRESET=14\r\nWORK=11\r\nKICK1=100\r\n")
            << QList<int>{100, 0, 0, 0, 0, 0, 11, 0, 0, 14, 120};
        QTest::newRow("negative means not configured")
            << QByteArray("KICK3=-5\n") << QList<int>{0, 0, -5, 0, 0, 0, 0, 0, 0, 0, 0};
        QTest::newRow("junk, blanks and case")
            << QByteArray("# map\nkick1=1\nKICK2 =2\nKICK4=abc\n\nQUANTITY=  77x\n")
            << QList<int>{0, 0, 0, 0, 77, 0, 0, 0, 0, 0, 0};
        QTest::newRow("last value wins")
            << QByteArray("WORK=1\nWORK=2\n") << QList<int>{0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
        QTest::newRow("tail of an overlong line is no line")
            << (QByteArray(255, 'x') + "WORK=5\nSHIFT=6\n")
            << QList<int>{0, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0};
        QByteArray binary;
        for (int i = 0; i < 70000; ++i)
            binary += static_cast<char>((i * 7919) % 256);
        QTest::newRow("binary") << binary + "\nDEBUG=3\n"
                                << QList<int>{0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0};
    }

    void lines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, expected);
        TempStation station;
        TempStation::write("../conf/modbus.txt", content);
        PlcAddrMap map;
        QVERIFY(readPlcAddrMap(map));
        QCOMPARE(fields(map), expected);
    }

    void kickByPosition()
    {
        PlcAddrMap map;
        map.KICK1 = 1;
        map.KICK2 = 2;
        map.KICK3 = 3;
        map.KICK4 = 4;
        QCOMPARE((QList<int>{map.kick(0), map.kick(1), map.kick(2), map.kick(3), map.kick(4),
                             map.kick(-1)}),
                 (QList<int>{1, 2, 3, 4, 0, 0}));
        map.clear();
        QCOMPARE(fields(map), QVector<int>(11, 0).toList());
    }

    void directoryInsteadOfFile()
    {
        TempStation station;
        QDir().mkpath("../conf/modbus.txt");
        PlcAddrMap map;
        StdoutCapture out;
        QVERIFY(!readPlcAddrMap(map));
        QVERIFY(out.text().startsWith("Error: Open config file ../conf/modbus.txt"));
    }
};

QTEST_GUILESS_MAIN(tst_PlcAddrMap)
#include "tst_plcaddrmap.moc"
