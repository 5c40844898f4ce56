#include "MqttBroker.h"

#include "PlantPublisher.h"
#include "PlantTable.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <vector>

class tst_PlantView : public QObject
{
    Q_OBJECT

private:
    static QDateTime at(double seconds)
    {
        return QDateTime(QDate(2026, 12, 10), QTime(8, 0, 0)).addMSecs(qint64(seconds * 1000));
    }

    // The table's lines below its header with the padding squeezed out: what a row says,
    // whatever the widths.
    static QStringList rowsOf(const QString &table)
    {
        QStringList lines = table.split(QLatin1Char('\n'));
        lines.removeAll(QString());
        if (!lines.isEmpty())
            lines.removeFirst();
        for (QString &line : lines)
            line = line.simplified();
        return lines;
    }

private slots:
    // Each message: "<second>[r] <topic> <payload>" (r: retained by the broker).
    void table_data()
    {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<double>("now");
        QTest::addColumn<QStringList>("rows");

        const QString online = QStringLiteral("0 gluebox/line-7/status {\"state\":\"online\",\"station\":\"line-7\",\"since\":\"A\"}");
        const QString counters = QStringLiteral(
            "1 gluebox/line-7/counters {\"cameras\":[{\"camera\":1,\"checked\":124,\"kicks\":4,\"ng\":4,\"ok\":120},"
            "{\"camera\":2,\"checked\":124,\"kicks\":null,\"ng\":6,\"ok\":118}],"
            "\"link\":{\"dropped\":0,\"sent\":25,\"waiting\":0},\"plc_total\":130,\"seq\":26,\"time\":\"x\"}");
        const QString counted = QStringLiteral("1: 120/4 2: 118/6 4.0");
        const auto alarm = [](double t, int seq, int code, const QString &raised, const QString &ack) {
            return QStringLiteral("%1 gluebox/line-7/alarm {\"code\":%2,\"text\":\"Glue low\",\"raised\":\"%3\","
                                  "\"acknowledged\":%4,\"seq\":%5}")
                .arg(t).arg(code).arg(raised, ack.isEmpty() ? QStringLiteral("null") : '"' + ack + '"').arg(seq);
        };
        const auto product = [](double t, int seq, int camera, const char *verdict) {
            return QStringLiteral("%1 gluebox/line-7/product/%2 {\"camera\":%2,\"dots\":[8],\"verdict\":\"%3\",\"seq\":%4}")
                .arg(t).arg(camera).arg(QLatin1String(verdict)).arg(seq);
        };
        const QString one = QStringLiteral("1 station: 1 online, 0 offline");

        QTest::newRow("online then counters")
            << QStringList{online, counters} << 2.0
            << QStringList{"line-7 online 130 " + counted + " - 08:00:01", one};
        QTest::newRow("offline by will, never silent")
            << QStringList{online, counters, "3 gluebox/line-7/status {\"state\":\"offline\",\"station\":\"line-7\"}"}
            << 60.0 << QStringList{"line-7 offline 130 " + counted + " - 08:00:03", "1 station: 0 online, 1 offline"};
        QTest::newRow("5 s quiet is still online")
            << QStringList{online, counters} << 6.0 << QStringList{"line-7 online 130 " + counted + " - 08:00:01", one};
        QTest::newRow("silent after 5 s")
            << QStringList{online, counters} << 13.0
            << QStringList{"line-7 silent 12 s 130 " + counted + " - 08:00:01",
                           "1 station: 1 online (1 silent), 0 offline"};
        QTest::newRow("silent for minutes")
            << QStringList{online, counters} << 601.0
            << QStringList{"line-7 silent 10 min 130 " + counted + " - 08:00:01",
                           "1 station: 1 online (1 silent), 0 offline"};
        QTest::newRow("online again after offline")
            << QStringList{"0 gluebox/line-7/status {\"state\":\"offline\"}", online.mid(0).replace(0, 1, "2")}
            << 3.0 << QStringList{"line-7 online - - - - 08:00:02", one};
        // Retained: from before the view, so no last message and the silence counts from
        // the subscription.
        QTest::newRow("retained status only")
            << QStringList{"0r gluebox/line-7/status {\"state\":\"online\",\"since\":\"A\"}"} << 3.0
            << QStringList{"line-7 online - - - - -", one};
        QTest::newRow("retained status, nothing since")
            << QStringList{"0r gluebox/line-7/status {\"state\":\"online\",\"since\":\"A\"}"} << 9.0
            << QStringList{"line-7 silent 9 s - - - - -", "1 station: 1 online (1 silent), 0 offline"};
        QTest::newRow("alarm raised")
            << QStringList{online, alarm(4, 30, 3, "08:00:04", "")} << 5.0
            << QStringList{"line-7 online - - - 3 Glue low 08:00:04", one};
        QTest::newRow("alarm acknowledged")
            << QStringList{online, alarm(4, 30, 3, "08:00:04", ""), alarm(5, 31, 3, "08:00:04", "08:00:05")} << 5.0
            << QStringList{"line-7 online - - - 3 Glue low (ack) 08:00:05", one};
        QTest::newRow("an older alarm's acknowledgement leaves the newer")
            << QStringList{online, alarm(4, 30, 3, "08:00:04", ""), alarm(5, 31, 5, "08:00:05", ""),
                           alarm(6, 32, 3, "08:00:04", "08:00:06")}
            << 6.0 << QStringList{"line-7 online - - - 5 Glue low 08:00:06", one};
        QTest::newRow("an alarm after an acknowledged one")
            << QStringList{online, alarm(4, 30, 3, "08:00:04", ""), alarm(5, 31, 3, "08:00:04", "08:00:05"),
                           alarm(6, 32, 3, "08:00:06", "")}
            << 6.0 << QStringList{"line-7 online - - - 3 Glue low 08:00:06", one};
        QTest::newRow("alarm text cut, escape sequences defused")
            << QStringList{online, QStringLiteral("1 gluebox/line-7/alarm {\"code\":2,\"text\":\"\\u001b[2J%1\",\"seq\":1}")
                                       .arg(QString(50, 'x'))}
            << 1.0 << QStringList{"line-7 online - - - 2 ?[2J" + QString(35, 'x') + QChar(0x2026) + " 08:00:01", one};
        QTest::newRow("plc_total null: the cameras' sum")
            << QStringList{online, QString(counters).replace("\"plc_total\":130", "\"plc_total\":null")} << 2.0
            << QStringList{"line-7 online 248 " + counted + " - 08:00:01", one};
        QTest::newRow("plc_total missing: the cameras' sum")
            << QStringList{online, QString(counters).replace("\"plc_total\":130,", "")} << 2.0
            << QStringList{"line-7 online 248 " + counted + " - 08:00:01", one};
        QTest::newRow("zero checked: no rate")
            << QStringList{"1 gluebox/line-7/counters {\"cameras\":[{\"camera\":1,\"checked\":0,\"ok\":0,\"ng\":0}],"
                           "\"plc_total\":null,\"seq\":1}"}
            << 1.0 << QStringList{"line-7 online 0 1: 0/0 - - 08:00:01", one};
        QTest::newRow("no camera at all")
            << QStringList{"1 gluebox/line-7/counters {\"cameras\":[],\"plc_total\":null,\"seq\":1}"}
            << 1.0 << QStringList{"line-7 online 0 - - - 08:00:01", one};
        QTest::newRow("products counted until counters come")
            << QStringList{online, product(1, 1, 1, "OK"), product(1, 2, 1, "NG"), product(1, 3, 2, "none")}
            << 1.0 << QStringList{"line-7 online 3 1: 1/1 2: 0/0 33.3 - 08:00:01", one};
        QTest::newRow("counters replace the products counted")
            << QStringList{online, product(0.5, 1, 1, "NG"), counters, product(1.5, 27, 1, "NG")}
            << 2.0 << QStringList{"line-7 online 130 " + counted + " - 08:00:01", one};
        QTest::newRow("a resent older counters is not taken")
            << QStringList{online, counters, "2 gluebox/line-7/counters {\"cameras\":[],\"plc_total\":1,\"seq\":20}"}
            << 2.0 << QStringList{"line-7 online 130 " + counted + " - 08:00:02", one};
        QTest::newRow("a restarted station counts again from 1")
            << QStringList{online, counters, "2 gluebox/line-7/status {\"state\":\"online\",\"since\":\"B\"}",
                           "3 gluebox/line-7/counters {\"cameras\":[],\"plc_total\":1,\"seq\":2}"}
            << 3.0 << QStringList{"line-7 online 1 - - - 08:00:03", one};
        QTest::newRow("a resent product is counted once")
            << QStringList{online, product(1, 1, 1, "NG"), product(1, 2, 1, "OK"), product(2, 2, 1, "OK")}
            << 2.0 << QStringList{"line-7 online 2 1: 1/1 50.0 - 08:00:02", one};

        const QStringList hostile{
            "9 gluebox/line-7 {\"state\":\"online\"}",
            "9 gluebox//status {\"state\":\"online\"}",
            "9 plant/line-7/status {\"state\":\"online\"}",
            "9 gluebox/line-7/status not json",
            "9 gluebox/line-7/status [\"online\"]",
            "9 gluebox/line-7/status {\"state\":1}",
            "9 gluebox/line-7/status {\"state\":\"sleeping\"}",
            "9 gluebox/line-7/status ",
            "9 gluebox/line-7/counters {\"cameras\":\"all\",\"seq\":90}",
            "9 gluebox/line-7/counters {\"cameras\":[{\"camera\":1,\"checked\":-1,\"ok\":0,\"ng\":0}],\"seq\":91}",
            "9 gluebox/line-7/counters {\"cameras\":[{\"camera\":1,\"checked\":1.5,\"ok\":0,\"ng\":0}],\"seq\":92}",
            "9 gluebox/line-7/counters {\"cameras\":[{\"camera\":1,\"checked\":1e300,\"ok\":0,\"ng\":0}],\"seq\":93}",
            "9 gluebox/line-7/counters {\"cameras\":[{\"camera\":0,\"checked\":1,\"ok\":1,\"ng\":0}],\"seq\":94}",
            "9 gluebox/line-7/counters {\"cameras\":[{\"camera\":1,\"ok\":1,\"ng\":0}],\"seq\":95}",
            "9 gluebox/line-7/counters {\"cameras\":[7],\"seq\":96}",
            "9 gluebox/line-7/counters {\"cameras\":[],\"plc_total\":\"many\",\"seq\":97}",
            "9 gluebox/line-7/alarm {\"code\":\"3\",\"text\":\"Glue low\",\"seq\":98}",
            "9 gluebox/line-7/alarm {\"code\":3,\"text\":[],\"seq\":99}",
            "9 gluebox/line-7/alarm {\"code\":3,\"text\":\"x\",\"acknowledged\":true,\"seq\":100}",
            "9 gluebox/line-7/product/0 {\"verdict\":\"NG\",\"seq\":101}",
            "9 gluebox/line-7/product/99 {\"verdict\":\"NG\",\"seq\":102}",
            "9 gluebox/line-7/product/1x {\"verdict\":\"NG\",\"seq\":103}",
            "9 gluebox/line-7/product/01 {\"verdict\":\"NG\",\"seq\":104}",
            "9 gluebox/line-7/product/1 {\"verdict\":\"bad\",\"seq\":105}",
            "9 gluebox/line-7/product/1 {\"seq\":106}",
            "9 gluebox/line-7/debug {\"seq\":107}",
            "9 gluebox/line-7/status/extra {\"state\":\"offline\"}",
        };
        QTest::newRow("foreign and malformed: no station")
            << hostile << 9.0 << QStringList{"0 stations: 0 online, 0 offline"};
        // Nor are they a sign of life.
        QTest::newRow("foreign and malformed: the row as it was")
            << QStringList{online, counters} + hostile << 9.0
            << QStringList{"line-7 silent 8 s 130 " + counted + " - 08:00:01",
                           "1 station: 1 online (1 silent), 0 offline"};

        QTest::newRow("stations sorted, numbers as numbers")
            << QStringList{"1 gluebox/line-10/status {\"state\":\"online\"}",
                           "1 gluebox/line-9/status {\"state\":\"offline\"}",
                           "1 gluebox/Hall/shift {\"camera\":1,\"line\":\"x\",\"seq\":1}",
                           "1 gluebox/line-2/ng_image {\"camera\":1,\"seq\":1}"}
            << 1.0
            << QStringList{"Hall online - - - - 08:00:01", "line-2 online - - - - 08:00:01",
                           "line-9 offline - - - - 08:00:01", "line-10 online - - - - 08:00:01",
                           "4 stations: 3 online, 1 offline"};
    }

    void table()
    {
        QFETCH(QStringList, messages);
        QFETCH(double, now);
        QFETCH(QStringList, rows);
        PlantTable t;
        for (const QString &m : messages) {
            const int a = m.indexOf(QLatin1Char(' ')), b = m.indexOf(QLatin1Char(' '), a + 1);
            QVERIFY2(a > 0 && b > a, qPrintable(m));
            QString second = m.left(a);
            const bool retained = second.endsWith(QLatin1Char('r'));
            if (retained)
                second.chop(1);
            t.take(m.mid(a + 1, b - a - 1), m.mid(b + 1).toUtf8(), at(second.toDouble()), retained);
        }
        QCOMPARE(rowsOf(t.render(at(now))), rows);
    }

    // The alarm texts are Chinese: two columns a character on the terminal.
    void columnsLineUpWithWideText()
    {
        PlantTable t;
        t.take("gluebox/a/alarm", QStringLiteral("{\"code\":1,\"text\":\"胶水不足\",\"seq\":1}").toUtf8(), at(1));
        t.take("gluebox/b/alarm", "{\"code\":2,\"text\":\"Glue\",\"seq\":1}", at(2));
        t.take("gluebox/c/status", "{\"state\":\"online\"}", at(3));
        const QStringList lines = t.render(at(3)).split(QLatin1Char('\n'));
        QVector<int> columns;
        for (const char *stamp : {"08:00:01", "08:00:02", "08:00:03"}) {
            const QString line = lines.value(columns.size() + 1);
            const int pos = line.indexOf(QLatin1String(stamp));
            QVERIFY2(pos > 0, qPrintable(line));
            int column = 0;
            for (const QChar c : line.left(pos))
                column += c.unicode() >= 0x2E80 ? 2 : 1;
            columns << column;
        }
        QCOMPARE(columns, QVector<int>(3, columns[0]));
        QCOMPARE(lines[0].indexOf(QLatin1String("last msg")), columns[0]);
    }

    void tenStationsOnOneBroker()
    {
        MqttBroker broker;
        GLUEBOX_START_BROKER(broker);

        const int stations = 10, gone = 4;
        std::vector<std::unique_ptr<PlantPublisher>> publishers;
        for (int k = 1; k <= stations; ++k) {
            MonitorConf conf;
            conf.name = QStringLiteral("station-%1").arg(k, 2, 10, QLatin1Char('0'));
            publishers.push_back(std::make_unique<PlantPublisher>(QStringLiteral("127.0.0.1"), broker.port(), conf));
            publishers.back()->setPresent(0);
            publishers.back()->start();
        }
        for (const auto &p : publishers)
            QTRY_VERIFY_WITH_TIMEOUT(p->stats().connected, 10000);

        QProcess view;
        QByteArray said;
        connect(&view, &QProcess::readyReadStandardError, this, [&] { said += view.readAllStandardError(); });
        view.start(QStringLiteral(PLANTVIEW_EXECUTABLE),
                   {QStringLiteral("--port"), QString::number(broker.port()), QStringLiteral("--once"), QStringLiteral("3")});
        QVERIFY2(view.waitForStarted(5000), qPrintable(view.errorString()));
        QTRY_VERIFY2_WITH_TIMEOUT(said.contains("listening to gluebox/+/#"), said.constData(), 10000);

        for (int k = 1; k <= stations; ++k) {
            PlantPublisher &p = *publishers[k - 1];
            for (int i = 0; i < 10 * k; ++i) {
                ProductReport r;
                r.camera = 0;
                r.product = quint64(i + 1);
                r.inspected = true;
                r.dots = {8, 8};
                r.verdict = i % 5 == 4 ? ProductReport::Verdict::Bad : ProductReport::Verdict::Good;
                r.time = QDateTime::currentDateTime();
                p.product(r);
            }
            p.publishCounters();
        }
        publishers[gone - 1].reset(); // a clean exit: offline after what was queued

        QTRY_VERIFY_WITH_TIMEOUT(view.state() == QProcess::NotRunning, 20000);
        QCOMPARE(view.exitStatus(), QProcess::NormalExit);
        QCOMPARE(view.exitCode(), 0);
        const QString out = QString::fromUtf8(view.readAllStandardOutput());
        const QStringList rows = rowsOf(out);
        QCOMPARE(rows.size(), stations + 1);
        for (int k = 1; k <= stations; ++k) {
            const QStringList cells = rows[k - 1].split(QLatin1Char(' '));
            const QString expected = QStringLiteral("station-%1 %2 %3 1: %4/%5 20.0 -")
                                         .arg(k, 2, 10, QLatin1Char('0'))
                                         .arg(k == gone ? "offline" : "online")
                                         .arg(10 * k)
                                         .arg(8 * k)
                                         .arg(2 * k);
            QCOMPARE(cells.mid(0, cells.size() - 1).join(QLatin1Char(' ')), expected);
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(cells.last()).hasMatch(),
                     qPrintable(rows[k - 1]));
        }
        QCOMPARE(rows.last(), QStringLiteral("10 stations: 9 online, 1 offline"));
    }
};

QTEST_GUILESS_MAIN(tst_PlantView)
#include "tst_plantview.moc"
