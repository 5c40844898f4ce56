// camsim.txt as the simulated station reads it: values outside what the line can run are
// refused in words and the default kept; a fifth camera is named and left out.
#include "SimulatedStation.h"
#include "StdoutCapture.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_CamsimFile : public QObject
{
    Q_OBJECT

private slots:
    void boundsAndMessages_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("settings");   // rate shots share dots cameras
        QTest::addColumn<QByteArray>("message"); // after "<path>: "
        const QString defaults = QStringLiteral("600 3 0.05 0 2");
        QTest::newRow("comments after values")
            << QByteArray("RATE=900   # per minute\nSHOTS=2\t# frames\nSOURCE=generated  # pictures\n")
            << "900 2 0.05 0 2" << QByteArray();
        QTest::newRow("SHOTS huge") << QByteArray("SHOTS=99999999\n") << defaults
                                    << QByteArray("SHOTS=99999999 is not a number from 1 to 10, keeping 3\n");
        QTest::newRow("SHOTS 0") << QByteArray("SHOTS=0\n") << defaults
                                 << QByteArray("SHOTS=0 is not a number from 1 to 10, keeping 3\n");
        QTest::newRow("SHOTS fraction") << QByteArray("SHOTS=2.5\n") << defaults
                                        << QByteArray("SHOTS=2.5 is not a whole number, keeping 3\n");
        QTest::newRow("RATE 100000") << QByteArray("RATE=100000\n") << defaults
                                     << QByteArray("RATE=100000 is not a number from 1 to 1500, keeping 600\n");
        QTest::newRow("RATE inf") << QByteArray("RATE=inf\n") << defaults
                                  << QByteArray("RATE=inf is not a number from 1 to 1500, keeping 600\n");
        QTest::newRow("RATE nan") << QByteArray("RATE=nan\n") << defaults
                                  << QByteArray("RATE=nan is not a number from 1 to 1500, keeping 600\n");
        QTest::newRow("RATE 0") << QByteArray("RATE=0\n") << defaults
                                << QByteArray("RATE=0 is not a number from 1 to 1500, keeping 600\n");
        QTest::newRow("RATE bounds") << QByteArray("RATE=1500\n") << "1500 3 0.05 0 2" << QByteArray();
        QTest::newRow("NG_SHARE nan") << QByteArray("NG_SHARE=nan\n") << defaults
                                      << QByteArray("NG_SHARE=nan is not a number from 0 to 1, keeping 0.05\n");
        QTest::newRow("DOTS 11") << QByteArray("DOTS=11\n") << defaults
                                 << QByteArray("DOTS=11 is not a number from 0 to 10, keeping 0\n");
        QByteArray five;
        for (int i = 1; i <= 5; ++i)
            five += "CAMERA=HIK|Hikrobot|" + QByteArray::number(i) + "|GigE|64|48|Mono8|\n";
        QTest::newRow("fifth camera") << five << "600 3 0.05 0 4"
                                      << QByteArray("ignored camera line \"HIK|Hikrobot|5|GigE|64|48|Mono8|\": "
                                                    "the station has 4 positions\n");
    }

    void boundsAndMessages()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, settings);
        QFETCH(QByteArray, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("camsim.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        StdoutCapture out;
        const SimulatedStation::Settings s = SimulatedStation::read(path);
        const QByteArray printed = out.text();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(s.productsPerMinute)
                     .arg(s.shots)
                     .arg(s.ngShare)
                     .arg(s.dotsPerImage)
                     .arg(s.cameras.size()),
                 settings);
        QCOMPARE(printed, message.isEmpty() ? QByteArray() : path.toLocal8Bit() + ": " + message);
        QCOMPARE(s.source, std::string("generated"));
    }
};

QTEST_GUILESS_MAIN(tst_CamsimFile)
#include "tst_camsimfile.moc"
