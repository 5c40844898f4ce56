// The plant link's client against Debian's mosquitto on loopback: a broker killed and
// restarted mid-run (nothing lost within the queue's bound, drops beyond it counted
// exactly and said once), and brokers that cannot be had (the client says why, once, and
// publish() still only queues); and the retained status, online at the connect and
// offline by the will when the station dies without a goodbye.
#include "MqttBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace {
struct Notes
{
    std::mutex mutex;
    QStringList lines;
    QList<bool> troubles;

    MqttClient::Note sink()
    {
        return [this](const std::string &text, bool trouble) {
            std::lock_guard<std::mutex> lock(mutex);
            lines << QString::fromStdString(text);
            troubles << trouble;
        };
    }
    QStringList matching(const QString &part)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.filter(part);
    }
    QString all()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.join(QLatin1Char('\n'));
    }
};

MqttClient::Options options(int port, size_t bound)
{
    MqttClient::Options o;
    o.host = "127.0.0.1";
    o.port = port;
    o.clientId = "gluebox-test";
    o.queueBound = bound;
    o.statusTopic = "gluebox/test/status";
    o.onlinePayload = R"({"state":"online"})";
    o.offlinePayload = R"({"state":"offline"})";
    o.connectTimeoutMs = 1000;
    return o;
}
} // namespace

class tst_MqttClient : public QObject
{
    Q_OBJECT

private slots:
    void brokerKilledAndRestarted_data()
    {
        QTest::addColumn<int>("bound");
        QTest::addColumn<bool>("drops");
        // 200 messages a second, the broker away for 3 s.
        QTest::newRow("the queue holds the outage") << 10000 << false;
        QTest::newRow("the outage overflows the queue") << 150 << true;
    }
    void brokerKilledAndRestarted()
    {
        QFETCH(int, bound);
        QFETCH(bool, drops);
        MqttBroker::Options brokerOptions;
        brokerOptions.persistent = true; // the probe's session outlives the crash
        MqttBroker broker(brokerOptions);
        GLUEBOX_START_BROKER(broker);
        QString error;
        MqttProbe probe(broker.port(), QStringLiteral("gluebox/test/data"), QStringLiteral("probe"), true);
        QVERIFY(probe.waitSubscribed(5000));
        QTest::qWait(1500); // the broker has saved the probe's session

        Notes notes;
        MqttClient client(options(broker.port(), static_cast<size_t>(bound)));
        client.setNote(notes.sink());
        client.start();

        std::atomic<bool> publishing{true};
        std::atomic<int> published{0};
        std::thread publisher([&] {
            for (int seq = 1; publishing; ++seq) {
                client.publish("gluebox/test/data", QByteArray::number(seq).toStdString());
                published = seq;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        QTest::qWait(1500);
        broker.kill();
        QTest::qWait(3000);
        QVERIFY2(broker.start(&error), qPrintable(error));
        QTest::qWait(2000);
        publishing = false;
        publisher.join();

        QVERIFY2(MqttProbe::waitFor([&] { return client.stats().waiting == 0; }, 20000), qPrintable(notes.all()));
        const MqttClient::Stats s = client.stats();
        QCOMPARE(s.accepted + s.dropped, static_cast<uint64_t>(published));
        QVERIFY(MqttProbe::waitFor([&] { return probe.count() >= static_cast<int>(s.accepted); }, 10000));
        QTest::qWait(300); // anything sent twice is in too

        std::set<int> seen;
        int lastNew = 0;
        bool inOrder = true;
        for (const MqttProbe::Message &m : probe.messages()) {
            const int seq = m.payload.toInt();
            if (seen.insert(seq).second) {
                inOrder = inOrder && seq > lastNew;
                lastNew = seq;
            }
        }
        QVERIFY(inOrder);
        QCOMPARE(static_cast<uint64_t>(seen.size()), s.accepted);
        QCOMPARE(static_cast<uint64_t>(published) - seen.size(), s.dropped);
        QCOMPARE(s.dropped > 0, drops);
        QVERIFY(s.connects >= 2);

        QCOMPARE(notes.matching(QStringLiteral("lost the MQTT broker")).size(), 1);
        QCOMPARE(notes.matching(QStringLiteral("is full")).size(), drops ? 1 : 0);
        const QStringList over = notes.matching(QStringLiteral("messages were dropped while it was away"));
        QCOMPARE(over.size(), drops ? 1 : 0);
        if (drops)
            QVERIFY2(over.first().contains(QStringLiteral("; %1 messages").arg(s.dropped)), qPrintable(over.first()));
        client.stop();
    }

    void willOnDeath()
    {
        MqttBroker broker;
        GLUEBOX_START_BROKER(broker);
        const pid_t child = fork();
        if (child == 0) {
            // A station that crashes: connected, then gone without stop().
            MqttClient *client = new MqttClient(options(broker.port(), 100));
            client->start();
            for (int i = 0; i < 250 && !client->stats().connected; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            _exit(client->stats().connected ? 0 : 1);
        }
        QVERIFY(child > 0);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        // A subscriber that comes later gets the retained state: the will's.
        MqttProbe probe(broker.port(), QStringLiteral("gluebox/test/status"));
        QVERIFY(MqttProbe::waitFor([&] { return probe.count() > 0; }, 5000));
        const MqttProbe::Message m = probe.messages().first();
        QVERIFY(m.retained);
        QCOMPARE(m.payload, QByteArray(R"({"state":"offline"})"));
    }

    // Two stations given one name take each other's connection at every connect: each
    // says so once, instead of a lost and a connected line every second.
    void twoStationsWithOneName()
    {
        MqttBroker broker;
        GLUEBOX_START_BROKER(broker);
        Notes notes[2];
        std::unique_ptr<MqttClient> clients[2];
        for (int i = 0; i < 2; ++i) {
            MqttClient::Options o = options(broker.port(), 100);
            o.maxRetryMs = 500;
            clients[i] = std::make_unique<MqttClient>(o);
            clients[i]->setNote(notes[i].sink());
            clients[i]->start();
        }
        QTest::qWait(8000);
        for (Notes &n : notes) {
            QCOMPARE(n.matching(QStringLiteral("is another station using the same name?")).size(), 1);
            QVERIFY2(n.matching(QStringLiteral("Plant link:")).size() <= 6, qPrintable(n.all()));
        }
        clients[1].reset();
        QTRY_VERIFY_WITH_TIMEOUT(!notes[0].matching(QStringLiteral("holds again")).isEmpty(), 8000);
    }

    void brokerCannotBeHad_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("wrong password") << "password" << "refused the connection: Connection Refused: not authorised";
        QTest::newRow("nothing listens") << "closed" << "Connection refused";
        QTest::newRow("a server that never answers") << "silent" << "no answer within 1 s";
        QTest::newRow("CA file missing") << "cafile" << "CA file /nonexistent/ca.pem cannot be used";
    }
    void brokerCannotBeHad()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        MqttBroker::Options brokerOptions;
        brokerOptions.user = QStringLiteral("gluebox");
        brokerOptions.password = QStringLiteral("right");
        MqttBroker broker(brokerOptions);
        QTcpServer silent;
        int port = 0;
        MqttClient::Options o = options(0, 1000);
        if (kind == QLatin1String("password") || kind == QLatin1String("cafile")) {
            GLUEBOX_START_BROKER(broker);
            port = broker.port();
            o.user = "gluebox";
            o.password = "wrong";
            if (kind == QLatin1String("cafile"))
                o.caFile = "/nonexistent/ca.pem";
        } else {
            QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
            port = silent.serverPort();
            if (kind == QLatin1String("closed"))
                silent.close();
        }
        o.port = port;
        o.maxRetryMs = 500;
        Notes notes;
        MqttClient client(o);
        client.setNote(notes.sink());
        client.start();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 50; ++i)
            QVERIFY(client.publish("gluebox/test/data", "x"));
        // A refusal costs no time, a silent server its whole time-out.
        QTest::qWait(kind == QLatin1String("silent") ? 4500 : 2500);
        QCOMPARE(notes.matching(QStringLiteral("Plant link:")).size(), 1);
        QVERIFY2(notes.all().contains(said), qPrintable(notes.all()));
        const MqttClient::Stats s = client.stats();
        QCOMPARE(s.waiting, size_t(50));
        QVERIFY(!s.connected);
        clock.restart();
        client.stop(2000);
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(tst_MqttClient)
#include "tst_mqttclient.moc"
