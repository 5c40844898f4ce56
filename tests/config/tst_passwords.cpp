#include "StdoutCapture.h"
#include "TempStation.h"

#include "Passwords.h"

#include <QtTest>

class tst_Passwords : public QObject
{
    Q_OBJECT

private slots:
    void digestIsLowerCaseHexMd5OfLatin1()
    {
        QCOMPARE(Passwords::digest("123456"), QString("e10adc3949ba59abbe56e057f20f883e"));
        QCOMPARE(Passwords::digest(""), QString("d41d8cd98f00b204e9800998ecf8427e"));
        // One byte per character, not UTF-8.
        QCOMPARE(Passwords::digest(QString(QChar(0xe9))), QString("3406877694691ddd1dfb0aca54681407"));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("found");
        const QString def = QString::fromLatin1(Passwords::kDefaultDigest);
        const int whole = SettingsRead::Whole, empty = SettingsRead::Empty, damaged = SettingsRead::Damaged;
        QTest::newRow("digest") << QByteArray("e10adc3949ba59abbe56e057f20f883e")
                                << "e10adc3949ba59abbe56e057f20f883e" << whole;
        QTest::newRow("31 characters unchanged") << QByteArray("e10adc3949ba59abbe56e057f20f883")
                                                 << "e10adc3949ba59abbe56e057f20f883" << damaged;
        QTest::newRow("not trimmed") << QByteArray(" abc ") << " abc " << damaged;
        QTest::newRow("first line only") << QByteArray("abc\ndef") << "abc" << damaged;
        QTest::newRow("empty file") << QByteArray() << def << empty;
        QTest::newRow("empty first line") << QByteArray("\nabc") << def << empty;
        QTest::newRow("overlong cut") << QByteArray(400, 'a') << QString(255, 'a') << damaged;
        QTest::newRow("zeroed file") << QByteArray(32, '\0') << def << empty;
        QTest::newRow("NUL ends the text") << QByteArray("abc\0def", 7) << "abc" << damaged;
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QFETCH(int, found);
        TempStation station;
        TempStation::write("pswd.txt", content);
        TempStation::write("pswd_op.txt", content);
        SettingsRead admin, op;
        QCOMPARE(readAdminPassword(&admin), expected);
        QCOMPARE(readOperatorPassword(&op), expected);
        QCOMPARE(int(admin.state), found);
        QCOMPARE(int(op.state), found);
        if (found == SettingsRead::Empty)
            QCOMPARE(op.detail, QString("Password file pswd_op.txt is empty: the built-in operator password is in force."));
    }

    void missingFilesGiveTheDefault()
    {
        TempStation station;
        StdoutCapture out;
        QCOMPARE(readAdminPassword(), QString("3f9a1c07e5b24d68a0c1f2e4b7d95a13"));
        QCOMPARE(readOperatorPassword(), QString("3f9a1c07e5b24d68a0c1f2e4b7d95a13"));
        QCOMPARE(out.text(), QByteArray("Error: Open config file pswd.txt\n"
                                        "Error: Open config file pswd_op.txt\n"));
        QVERIFY(!QFile::exists("pswd.txt")); // nothing is created by reading
    }

    void writeThenReadEachRole()
    {
        TempStation station;
        const QString savedAdmin = g_admin_pswd, savedOp = g_op_pswd;
        g_admin_pswd = Passwords::digest("8888");
        g_op_pswd = Passwords::digest("1111");
        QVERIFY(TempStation::replacesWhole("pswd.txt", writeAdminPassword));
        QVERIFY(TempStation::replacesWhole("pswd_op.txt", writeOperatorPassword));
        QCOMPARE(TempStation::read("pswd.txt"), g_admin_pswd.toLatin1()); // no line end
        QCOMPARE(readAdminPassword(), Passwords::digest("8888"));
        QCOMPARE(readOperatorPassword(), Passwords::digest("1111"));
        g_admin_pswd = savedAdmin;
        g_op_pswd = savedOp;
    }

    void unwritableLocation()
    {
        TempStation station;
        QDir().mkpath("pswd.txt");
        QVERIFY(!writeAdminPassword());
        StdoutCapture out;
        QCOMPARE(readAdminPassword(), QString::fromLatin1(Passwords::kDefaultDigest));
    }
};

QTEST_GUILESS_MAIN(tst_Passwords)
#include "tst_passwords.moc"
