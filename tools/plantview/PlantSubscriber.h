#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

// Everything the stations publish ("gluebox/+/#", QoS 1), from the plant's broker, on a
// thread of its own. A broker that is away or refuses is tried again every second for as
// long as it takes; each reason it fails for is said once, not at every try.
//
// The signals are emitted on the subscriber's thread: connected to an object of another
// thread they arrive queued, in the order the broker sent them.
class PlantSubscriber : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kFilter = "gluebox/+/#";
    static constexpr int kRetryMs = 1000;
    static constexpr int kConnectTimeoutMs = 5000; // for the broker's answer to CONNECT

    struct Options
    {
        QString host = QStringLiteral("127.0.0.1");
        int port = 1883;
        QString user;     // no login when empty
        QString password;
        QString caFile;   // TLS against this CA when not empty
    };

    explicit PlantSubscriber(const Options &options, QObject *parent = nullptr);
    ~PlantSubscriber() override; // stop()

    void start();
    // Ends the thread within about 0.1 s, or the time a name lookup takes.
    void stop();
    QString address() const;

signals:
    // `retained`: kept by the broker from before the subscription.
    void message(const QString &topic, const QByteArray &payload, const QDateTime &received, bool retained);
    // Subscribed (up) or without the broker, and why, in a sentence for the user.
    void link(bool up, const QString &text);

private:
    void run();
    // One connection from its attempt to its end.
    void connection();
    void fail(const std::string &reason);
    void say(bool up, const std::string &text);

    static void onConnect(struct mosquitto *m, void *self, int rc);
    static void onSubscribe(struct mosquitto *m, void *self, int mid, int count, const int *granted);
    static void onMessage(struct mosquitto *m, void *self, const struct mosquitto_message *message);

    const Options m_options;
    std::thread m_thread;
    std::mutex m_mutex; // for the stop request's wait
    std::condition_variable m_wake;
    std::atomic<bool> m_stopping{false};

    // The subscriber's thread only:
    int m_connack = -1;        // -1: no answer yet
    int m_subscribeMid = -1;
    bool m_subscribed = false;
    std::string m_lastFailure; // said last, so that a failing retry is not said again
};
