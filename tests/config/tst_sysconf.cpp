#include "StdoutCapture.h"
#include "TempStation.h"

#include "SysConf.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <unistd.h>

// Settings file: the reader's line rules, the writer's exact text, and the round trip.
class tst_SysConf : public QObject
{
    Q_OBJECT

private:
    // What writeConfFile makes of a record read from `content` on top of the defaults.
    static QByteArray loadAndWrite(const QByteArray &content)
    {
        TempStation station;
        TempStation::write("../conf/conf.txt", content);
        SysConf conf;
        if (!readConfFile(conf))
            return QByteArray("<not read>");
        TempStation::write("../conf/conf.txt", QByteArray());
        if (!writeConfFile(conf))
            return QByteArray("<not written>");
        return TempStation::read("../conf/conf.txt");
    }

    static QByteArray defaultText()
    {
        TempStation station;
        SysConf conf;
        writeConfFile(conf);
        return TempStation::read("../conf/conf.txt");
    }

    // The default text with some of its lines replaced (key=... lines matched by key).
    static QByteArray defaultsWith(const QList<QByteArray> &lines)
    {
        QList<QByteArray> out = defaultText().split('\n');
        for (const QByteArray &replacement : lines) {
            const QByteArray key = replacement.left(replacement.indexOf('=') + 1);
            for (QByteArray &l : out)
                if (l.startsWith(key))
                    l = replacement;
        }
        return out.join('\n');
    }

private slots:
    void defaultsAreWrittenAsTheFortyOneLineFile()
    {
        const QByteArray text = defaultText();
        QCOMPARE(text.count('\n'), 41);
        QVERIFY(text.endsWith("MonitorPort=0\n"));
        const QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines.at(6), QByteArray("TIMING_SHIFT=0"));
        QCOMPARE(lines.at(7), QByteArray("SHIFT_A=0|0"));
        QCOMPARE(lines.at(10), QByteArray(41, '*'));
        QCOMPARE(lines.at(11), QByteArray("EXPO1=2000"));
        QCOMPARE(lines.at(15), QByteArray("NO1=0|0|0"));
        QCOMPARE(lines.at(17), QByteArray(41, '*'));
        QCOMPARE(lines.at(38), QByteArray(41, '*'));
        QVERIFY(lines.at(39).startsWith("MonitorIP="));
        QCOMPARE(lines.at(39).size() - 10, 12);

        // The station template ships exactly what the writer produces.
        QFile shipped(QStringLiteral(GLUEBOX_SOURCE_DIR "/station/conf/conf.txt"));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(shipped.readAll(), text);
    }

    void missingFileKeepsDefaultsAndSaysWhich()
    {
        TempStation station;
        SysConf conf;
        conf.SAVE = 2; // whatever was there stays
        StdoutCapture out;
        SettingsRead found;
        QVERIFY(!readConfFile(conf, &found));
        QCOMPARE(out.text(), QByteArray("Error: Open config file ../conf/conf.txt\n"));
        QCOMPARE(found.state, SettingsRead::Missing);
        QCOMPARE(conf.SAVE, 2);
        QCOMPARE(conf.SHOOT[3], 3);
        QCOMPARE(conf.USERID[0], 255);
    }

    void lineRules_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("only SAVE") << QByteArray("SAVE=2\n") << defaultsWith({"SAVE=2"});
        QTest::newRow("no final line end") << QByteArray("SAVE=2") << defaultsWith({"SAVE=2"});
        QTest::newRow("CR LF lines") << QByteArray("SAVE=2\r\nNO1=1|2|3\r\nMonitorIP=10.1.2.3\r\n")
                                     << defaultsWith({"SAVE=2", "NO1=1|2|3", "MonitorIP=10.1.2.3"});
        QTest::newRow("empty lines skipped") << QByteArray("\n\n\nSAVE_DAYS=7\n\n")
                                             << defaultsWith({"SAVE_DAYS=7"});
        QTest::newRow("recipe two pieces") << QByteArray("NO2=5|6\n") << defaultText();
        QTest::newRow("recipe four pieces") << QByteArray("NO2=5|6|7|\n") << defaultText();
        QTest::newRow("recipe empty piece") << QByteArray("NO2=5||7\n") << defaultsWith({"NO2=5|0|7"});
        QTest::newRow("recipe last good wins")
            << QByteArray("NO4=1|2|3\nNO4=4|5\n") << defaultsWith({"NO4=1|2|3"});
        QTest::newRow("shift time") << QByteArray("SHIFT_B=7|30\n") << defaultsWith({"SHIFT_B=7|30"});
        QTest::newRow("shift hour out of range")
            << QByteArray("SHIFT_B=25|0\n") << defaultsWith({"SHIFT_B=-1|-1"});
        QTest::newRow("shift minute out of range")
            << QByteArray("SHIFT_C=12|60\n") << defaultsWith({"SHIFT_C=-1|-1"});
        QTest::newRow("shift one piece") << QByteArray("SHIFT_A=7\n") << defaultText();
        QTest::newRow("shift three pieces") << QByteArray("SHIFT_A=7|1|2\n") << defaultText();
        QTest::newRow("letters give 0") << QByteArray("EXPO1=abc\n") << defaultsWith({"EXPO1=0"});
        QTest::newRow("leading blanks and unit")
            << QByteArray("EXPO1=  1500us\n") << defaultsWith({"EXPO1=1500"});
        QTest::newRow("signs") << QByteArray("EXPO2=-42\nGAIN2=+7\n")
                               << defaultsWith({"EXPO2=-42", "GAIN2=7"});
        QTest::newRow("huge saturates")
            << QByteArray("EXPO3=99999999999\nEXPO4=-99999999999\n")
            << defaultsWith({"EXPO3=2147483647", "EXPO4=-2147483648"});
        QTest::newRow("second equals sign is value")
            << QByteArray("FILTER1=1=2\n") << defaultsWith({"FILTER1=1"});
        QTest::newRow("blank before equals") << QByteArray("SAVE = 1\n") << defaultText();
        QTest::newRow("case sensitive") << QByteArray("save=1\nExpo1=5\n") << defaultText();
        QTest::newRow("comments and separators")
            << QByteArray("# SAVE=2\n*****************************************\n;x=1\n")
            << defaultText();
        QTest::newRow("key without equals is its own value")
            << QByteArray("MISMATCHACT\n") << defaultsWith({"MISMATCHACT=0"});
        QTest::newRow("last key wins") << QByteArray("SAVE=1\nSAVE=2\n") << defaultsWith({"SAVE=2"});
        QTest::newRow("monitor address taken as is")
            << QByteArray("MonitorIP=10.0.0.1 x\nMonitorPort=8080\n")
            << defaultsWith({"MonitorIP=10.0.0.1 x", "MonitorPort=8080"});
        QTest::newRow("empty monitor address") << QByteArray("MonitorIP=\n")
                                               << defaultsWith({"MonitorIP="});
        QTest::newRow("user ids per camera")
            << QByteArray("USERID1=11\nUSERID4=44\n") << defaultsWith({"USERID1=11", "USERID4=44"});
        QTest::newRow("shots in range") << QByteArray("SHOOT1=1\nSHOOT3=2\n")
                                        << defaultsWith({"SHOOT1=1", "SHOOT3=2"});
        QTest::newRow("shots zero rejected") << QByteArray("SHOOT1=0\n") << defaultText();
        QTest::newRow("shots four rejected") << QByteArray("SHOOT2=4\n") << defaultText();
        QTest::newRow("shots text rejected") << QByteArray("SHOOT2=x\n") << defaultText();
        QTest::newRow("rejected shots keep earlier line")
            << QByteArray("SHOOT4=2\nSHOOT4=9\n") << defaultsWith({"SHOOT4=2"});
    }

    void lineRules()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        QCOMPARE(loadAndWrite(content), expected);
    }

    // A save cut short (by a power loss, in an older build) leaves the lines before the cut,
    // maybe followed by NUL bytes; a hand edit may put every key anywhere.
    void cutOrEmptyFileIsSaid_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("detail");
        const QByteArray whole = defaultText();
        QList<QByteArray> lines = whole.split('\n');
        std::reverse(lines.begin(), lines.end());
        QTest::newRow("as written") << whole << int(SettingsRead::Whole) << QString();
        QTest::newRow("hand edit: every key, reordered, CR LF, no final line end")
            << lines.join("\r\n").trimmed() << int(SettingsRead::Whole) << QString();
        QTest::newRow("empty") << QByteArray() << int(SettingsRead::Empty)
                               << "Settings file conf.txt is empty: the default settings are in force.";
        QTest::newRow("zeroed") << QByteArray(4096, '\0') << int(SettingsRead::Empty)
                                << "Settings file conf.txt is empty: the default settings are in force.";
        QTest::newRow("cut in the recipe line") << whole.left(whole.indexOf("NO2=") + 5)
                                                << int(SettingsRead::Damaged)
                                                << "Settings file conf.txt is cut short (no SHOOT2 and 14 more): "
                                                   "those settings have their defaults.";
        QTest::newRow("cut in the last key") << whole.left(whole.size() - 5) << int(SettingsRead::Damaged)
                                             << "Settings file conf.txt is cut short (no MonitorPort): "
                                                "those settings have their defaults.";
        QTest::newRow("zeroed after the cut") << whole.left(300) + QByteArray(700, '\0')
                                              << int(SettingsRead::Damaged) << QString();
    }

    void cutOrEmptyFileIsSaid()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, state);
        QFETCH(QString, detail);
        TempStation station;
        TempStation::write("../conf/conf.txt", content);
        SysConf conf;
        SettingsRead found;
        QVERIFY(readConfFile(conf, &found));
        QCOMPARE(int(found.state), state);
        if (!detail.isEmpty() || state == SettingsRead::Whole)
            QCOMPARE(found.detail, detail);
    }

    void rejectedShotCountIsReportedOnce()
    {
        TempStation station;
        TempStation::write("../conf/conf.txt", "SHOOT2=0\nSAVE=1\n");
        SysConf conf;
        StdoutCapture out;
        QVERIFY(readConfFile(conf));
        const QByteArray text = out.text();
        QCOMPARE(text.count('\n'), 1);
        QVERIFY(text.contains("SHOOT2"));
        QCOMPARE(conf.SHOOT[1], 3);
        QCOMPARE(conf.SAVE, 1);
    }

    void overlongLineIsCutAndItsRestNeverReadAsALine()
    {
        // The tail of a 300-character line holds a valid setting: it must not be taken.
        QByteArray longLine = "MonitorIP=" + QByteArray(245, 'x') + "SAVE=2";
        QVERIFY(longLine.size() > 255);
        const QByteArray written = loadAndWrite(longLine + "\nSAVE_DAYS=3\n");
        QVERIFY(written.startsWith("SAVE=0\n"));
        QVERIFY(written.contains("\nSAVE_DAYS=3\n"));
        QVERIFY(written.contains("\nMonitorIP=" + QByteArray(245, 'x') + "\n"));

        // A line far longer than the buffer, then a normal one.
        const QByteArray huge = "EXPO1=7" + QByteArray(100000, '9') + "\nGAIN1=9\n";
        const QByteArray w2 = loadAndWrite(huge);
        QVERIFY(w2.contains("\nEXPO1=2147483647\n"));
        QVERIFY(w2.contains("\nGAIN1=9\n"));
    }

    void roundTripOfEveryField()
    {
        TempStation station;
        SysConf conf;
        conf.SAVE = 2;
        conf.MISMATCHACT = 0;
        conf.SAVE_DAYS = 30;
        conf.AUTO_OPEN = 0;
        conf.AUTO_WORK = 0;
        conf.AUTO_SHIFT = 0;
        conf.TIMING_SHIFT = 1;
        conf.SHIFT_A = QTime(6, 5);
        conf.SHIFT_B = QTime(14, 30);
        conf.SHIFT_C = QTime(99, 0); // invalid: written as -1|-1
        for (int k = 0; k < 4; ++k) {
            conf.EXPO[k] = 100 + k;
            conf.GAIN[k] = -k;
            conf.FILTER[k] = 10 * k;
            conf.USERID[k] = k + 1;
            conf.NO[k][0] = k;
            conf.NO[k][1] = k + 4;
            conf.NO[k][2] = 10;
            conf.SHOOT[k] = 1 + k % 3;
        }
        conf.MonitorIP = "172.16.0.200";
        conf.MonitorPort = 65535;
        QVERIFY(writeConfFile(conf));
        const QByteArray first = TempStation::read("../conf/conf.txt");
        QVERIFY(first.contains("SHIFT_C=-1|-1\n"));

        SysConf again;
        QVERIFY(readConfFile(again));
        QVERIFY(writeConfFile(again));
        QCOMPARE(TempStation::read("../conf/conf.txt"), first);
        QCOMPARE(again.SHIFT_B, QTime(14, 30));
        QCOMPARE(again.NO[3][1], 7);
        QVERIFY(!again.SHIFT_C.isValid());
    }

    void globalRecordIsWhatThePlainWriterWrites()
    {
        TempStation station;
        const int saved = g_sys_conf.SAVE_DAYS;
        g_sys_conf.SAVE_DAYS = 9;
        QVERIFY(TempStation::replacesWhole("../conf/conf.txt", [] { return writeConfFile(); }));
        g_sys_conf.SAVE_DAYS = saved;
        QVERIFY(TempStation::read("../conf/conf.txt").contains("\nSAVE_DAYS=9\n"));
    }

    void directoryInsteadOfFile()
    {
        TempStation station;
        QVERIFY(QDir().mkpath("../conf/conf.txt"));
        SysConf conf;
        StdoutCapture out;
        QVERIFY(!readConfFile(conf));
        QCOMPARE(out.text(), QByteArray("Error: Open config file ../conf/conf.txt\n"));
        conf.SAVE = 1;
        QVERIFY(!writeConfFile(conf)); // nothing written, nothing thrown
        QCOMPARE(conf.SAVE, 1);
    }

    void unreadableFile()
    {
        if (::geteuid() == 0)
            QSKIP("running as root: file permissions do not stop reading");
        TempStation station;
        TempStation::write("../conf/conf.txt", "SAVE=2\n");
        QFile::setPermissions("../conf/conf.txt", QFileDevice::Permissions());
        SysConf conf;
        StdoutCapture out;
        QVERIFY(!readConfFile(conf));
        QCOMPARE(conf.SAVE, 0);
    }

    void binaryFileEndsCleanly()
    {
        QRandomGenerator rng(20261208);
        QByteArray junk(256 * 1024, '\0');
        for (char &c : junk)
            c = static_cast<char>(rng.bounded(256));
        junk += "\nSAVE=2\n"; // a good line after the junk still counts
        TempStation station;
        TempStation::write("../conf/conf.txt", junk);
        SysConf conf;
        QVERIFY(readConfFile(conf));
        QCOMPARE(conf.SAVE, 2);
        for (int k = 0; k < 4; ++k)
            QVERIFY(conf.SHOOT[k] >= 1 && conf.SHOOT[k] <= 3);
    }

    void splitString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("empty middle") << "1||3" << "|" << QStringList{"1", "", "3"};
        QTest::newRow("trailing separator") << "1|2|3|" << "|" << QStringList{"1", "2", "3", ""};
        QTest::newRow("empty text") << "" << "|" << QStringList{""};
        QTest::newRow("no separator") << "abc" << "|" << QStringList{"abc"};
        QTest::newRow("only separators") << "||" << "|" << QStringList{"", "", ""};
        QTest::newRow("long separator") << "a::b::" << "::" << QStringList{"a", "b", ""};
        QTest::newRow("empty separator") << "a|b" << "" << QStringList{"a|b"};
    }

    void splitString()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QFETCH(QStringList, pieces);
        QStringList got;
        for (const std::string &s : ::splitString(text.toStdString(), separator.toStdString()))
            got << QString::fromStdString(s);
        QCOMPARE(got, pieces);
    }
};

QTEST_GUILESS_MAIN(tst_SysConf)
#include "tst_sysconf.moc"
