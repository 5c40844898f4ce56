// conf/monitor.txt: the station's name at the plant's broker and its login. The file is
// optional and written by hand, so whatever it holds gives a usable setting and a clear line.
#include "MonitorConf.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_MonitorConf : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<QString>("name");    // empty: the default
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<int>("queue");
        QTest::addColumn<QStringList>("problems"); // a part of each line said

        const int q = MonitorConf::kDefaultQueue;
        QTest::newRow("no file") << QByteArray() << "" << "" << "" << q << QStringList();
        QTest::newRow("all keys, blanks and CR LF")
            << QByteArray("# plant link\r\nname = line-3\r\nuser=gluebox\r\npassword=s3cret=x\r\n"
                          "cafile=/etc/ssl/plant.pem\r\nqueue=500\r\n\r\n")
            << "line-3" << "gluebox" << "/etc/ssl/plant.pem" << 500 << QStringList();
        QTest::newRow("name with a level separator")
            << QByteArray("name=line/3\n") << "" << "" << "" << q << QStringList{"name \"line/3\" cannot be a topic level"};
        QTest::newRow("wildcards and blanks in the name")
            << QByteArray("name=line+\nname=a b\nname=#\n") << "" << "" << "" << q
            << QStringList{"\"line+\"", "\"a b\"", "\"#\""};
        QTest::newRow("queue out of range and not a number")
            << QByteArray("queue=99\nqueue=1000001\nqueue=lots\nqueue=1000000\n") << "" << "" << "" << 1000000
            << QStringList{"queue=99 is not", "queue=1000001 is not", "queue=lots is not"};
        QTest::newRow("unknown key and a line without =")
            << QByteArray("port=1883\nhello\n") << "" << "" << "" << q
            << QStringList{"\"port=1883\" is not understood", "\"hello\" is not understood"};
    }
    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(QString, user);
        QFETCH(QString, caFile);
        QFETCH(int, queue);
        QFETCH(QStringList, problems);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("monitor.txt"));
        if (!file.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file);
        }
        QStringList said;
        const MonitorConf conf = MonitorConf::read(path, &said);
        QVERIFY(MonitorConf::validName(conf.name));
        if (!name.isEmpty())
            QCOMPARE(conf.name, name);
        QCOMPARE(conf.user, user);
        QCOMPARE(conf.caFile, caFile);
        QCOMPARE(conf.queue, queue);
        QCOMPARE(said.size(), problems.size());
        for (int i = 0; i < problems.size(); ++i)
            QVERIFY2(said[i].startsWith(path) && said[i].contains(problems[i]), qPrintable(said[i]));
        if (user == QLatin1String("gluebox"))
            QCOMPARE(conf.password, QStringLiteral("s3cret=x"));
    }
};

QTEST_GUILESS_MAIN(tst_MonitorConf)
#include "tst_monitorconf.moc"
