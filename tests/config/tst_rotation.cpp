#include "StdoutCapture.h"
#include "TempStation.h"

#include "Rotation.h"

#include <QtTest>

class tst_Rotation : public QObject
{
    Q_OBJECT

private:
    static QString state()
    {
        QString s;
        for (int k = 0; k < 4; ++k)
            s += QStringLiteral("%1:%2 ").arg(g_rotate_enable[k] ? 1 : 0).arg(g_rotate[k].load());
        return s.trimmed();
    }
    static void setState(bool enabled, int code)
    {
        for (int k = 0; k < 4; ++k) {
            g_rotate_enable[k] = enabled;
            g_rotate[k] = code;
        }
    }

private slots:
    void init() { setState(false, Rotation::kNone); }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("found");
        const int whole = SettingsRead::Whole, empty = SettingsRead::Empty, damaged = SettingsRead::Damaged;
        QTest::newRow("camera 0 rotated") << QByteArray("1,2,0,3,0,3,0,3,") << true
                                          << "1:2 0:3 0:3 0:3" << whole;
        QTest::newRow("without final comma") << QByteArray("0,3,1,0,1,1,0,3") << true
                                             << "0:3 1:0 1:1 0:3" << whole;
        QTest::newRow("without final comma, line end") << QByteArray("1,0,0,3,0,3,1,2\r\n") << true
                                                       << "1:0 0:3 0:3 1:2" << whole;
        QTest::newRow("seven fields") << QByteArray("0,3,1,0,1,1,0") << false
                                      << "0:3 0:3 0:3 0:3" << damaged;
        QTest::newRow("four pieces") << QByteArray("1,2,0,3") << false << "0:3 0:3 0:3 0:3" << damaged;
        QTest::newRow("cut after five") << QByteArray("1,1,1,2,") << false << "0:3 0:3 0:3 0:3" << damaged;
        QTest::newRow("empty file") << QByteArray() << false << "0:3 0:3 0:3 0:3" << empty;
        QTest::newRow("zeroed file") << QByteArray(16, '\0') << false << "0:3 0:3 0:3 0:3" << empty;
        QTest::newRow("line end after it") << QByteArray("0,3,1,0,1,1,0,3,\r\n") << true
                                           << "0:3 1:0 1:1 0:3" << whole;
        QTest::newRow("text gives 0") << QByteArray("x,y,1,z,0,3,0,3,") << true
                                      << "0:0 1:0 0:3 0:3" << whole;
        QTest::newRow("enabled flag any non-zero") << QByteArray("7,1,-1,2,0,3,0,3,") << true
                                                   << "1:1 1:2 0:3 0:3" << whole;
        QTest::newRow("codes outside 0..3 mean none") << QByteArray("1,4,1,-1,1,9,0,3,") << true
                                                      << "1:3 1:3 1:3 0:3" << whole;
        QTest::newRow("only first line") << QByteArray("1,1,\n1,1,1,1,1,1,1,1,") << false
                                         << "0:3 0:3 0:3 0:3" << damaged;
        // Text ends at a NUL byte, as it always has for this file.
        QTest::newRow("NUL ends the text") << QByteArray("\x01\xff,\x00,,,,,,,,,\xfe", 14) << false
                                           << "0:3 0:3 0:3 0:3" << damaged;
        QTest::newRow("binary") << QByteArray("\x01\xff,\x80,,\xfe,,,,,,,\x7f") << true
                                << "0:0 0:0 0:0 0:0" << whole;
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        QFETCH(int, found);
        TempStation station;
        TempStation::write("../conf/rotate.txt", content);
        bool result;
        SettingsRead what;
        {
            StdoutCapture out;
            result = readRotate(&what);
        }
        QCOMPARE(result, ok);
        QCOMPARE(state(), expected);
        QCOMPARE(int(what.state), found);
        QCOMPARE(what.detail.isEmpty(), ok);
        QCOMPARE(TempStation::read("../conf/rotate.txt"), content); // reading never writes
    }

    void missingFile()
    {
        TempStation station;
        StdoutCapture out;
        QVERIFY(!readRotate());
        QCOMPARE(out.text(), QByteArray("Error: Open config file rotate.txt\n"));
        QCOMPARE(state(), QString("0:3 0:3 0:3 0:3"));
    }

    void writeIsSixteenCharactersAndRoundTrips()
    {
        TempStation station;
        g_rotate_enable[1] = true;
        g_rotate[1] = 0;
        g_rotate_enable[2] = true;
        g_rotate[2] = 2;
        QVERIFY(TempStation::replacesWhole("../conf/rotate.txt", [] { return writeRotate(); }));
        const QByteArray written = TempStation::read("../conf/rotate.txt");
        QCOMPARE(written, QByteArray("0,3,1,0,1,2,0,3,"));
        setState(false, Rotation::kNone);
        QVERIFY(readRotate());
        QVERIFY(writeRotate());
        QCOMPARE(TempStation::read("../conf/rotate.txt"), written);
    }

    void writeFailsOnDirectory()
    {
        TempStation station;
        QDir().mkpath("../conf/rotate.txt");
        StdoutCapture out;
        QVERIFY(!writeRotate());
        QCOMPARE(out.text(), QByteArray("Error: Open config file rotate.txt\n"));
        QVERIFY(!readRotate());
    }

    void resetWritesDefaultsOrNamesTheFile_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("written") << true;
        QTest::newRow("not writable") << false;
    }

    void resetWritesDefaultsOrNamesTheFile()
    {
        QFETCH(bool, writable);
        TempStation station;
        if (!writable)
            QDir().mkpath("../conf/rotate.txt");
        setState(true, 1);
        StdoutCapture out;
        QCOMPARE(resetRotation(), writable);
        QCOMPARE(state(), QString("0:3 0:3 0:3 0:3"));
        if (writable) {
            QCOMPARE(TempStation::read("../conf/rotate.txt"), QByteArray("0,3,0,3,0,3,0,3,"));
            QCOMPARE(out.text(), QByteArray());
        } else {
            QCOMPARE(out.text(), "Error: Open config file rotate.txt\n\nFail to write message to file.\n"
                                 "The rotation settings could not be written to "
                                     + QFileInfo("../conf/rotate.txt").absoluteFilePath().toLocal8Bit() + '\n');
        }
    }

    void nextCodeCycles()
    {
        QCOMPARE(Rotation::nextCode(0), 1);
        QCOMPARE(Rotation::nextCode(2), 3);
        QCOMPARE(Rotation::nextCode(3), 0);
        QCOMPARE(Rotation::nextCode(-1), 0);
        QCOMPARE(Rotation::nextCode(9), 2);
    }
};

QTEST_GUILESS_MAIN(tst_Rotation)
#include "tst_rotation.moc"
