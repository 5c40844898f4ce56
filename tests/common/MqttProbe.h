#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <QVector>

#include <mosquitto.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A subscriber for tests: keeps every message under `filter` (QoS 1), reconnecting every
// 50 ms while the broker is away. With a session of its own (persistent), a broker that
// keeps sessions holds what came meanwhile for it.
class MqttProbe
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    MqttProbe(int port, const QString &filter = QStringLiteral("gluebox/#"),
              const QString &clientId = QString(), bool persistent = false)
        : m_port(port)
        , m_filter(filter.toStdString())
        , m_clientId(clientId.toStdString())
        , m_persistent(persistent)
    {
        mosquitto_lib_init();
        m_thread = std::thread([this] { run(); });
    }
    ~MqttProbe()
    {
        m_stop = true;
        m_thread.join();
    }

    bool subscribed() const { return m_subscribed; }
    bool waitSubscribed(int ms) const { return waitFor([this] { return m_subscribed.load(); }, ms); }
    QVector<Message> messages() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    int count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages.size();
    }
    // Polls `done` every 20 ms for at most ms.
    static bool waitFor(const std::function<bool()> &done, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > ms)
                return false;
            QThread::msleep(20);
        }
        return true;
    }

private:
    void run()
    {
        while (!m_stop) {
            struct mosquitto *m = mosquitto_new(m_clientId.empty() ? nullptr : m_clientId.c_str(),
                                                !m_persistent, this);
            mosquitto_connect_callback_set(m, [](struct mosquitto *m, void *self, int rc) {
                MqttProbe *p = static_cast<MqttProbe *>(self);
                if (rc == 0)
                    mosquitto_subscribe(m, &p->m_subscribeMid, p->m_filter.c_str(), 1);
            });
            mosquitto_subscribe_callback_set(m, [](struct mosquitto *, void *self, int mid, int, const int *) {
                MqttProbe *p = static_cast<MqttProbe *>(self);
                if (mid == p->m_subscribeMid)
                    p->m_subscribed = true;
            });
            mosquitto_message_callback_set(m, [](struct mosquitto *, void *self, const struct mosquitto_message *msg) {
                MqttProbe *p = static_cast<MqttProbe *>(self);
                std::lock_guard<std::mutex> lock(p->m_mutex);
                p->m_messages.push_back(Message{QString::fromUtf8(msg->topic),
                                                QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen),
                                                msg->retain});
            });
            if (mosquitto_connect(m, "127.0.0.1", m_port, 10) == MOSQ_ERR_SUCCESS) {
                while (!m_stop && mosquitto_loop(m, 20, 1) == MOSQ_ERR_SUCCESS) {
                }
                mosquitto_disconnect(m);
            }
            m_subscribed = false;
            mosquitto_destroy(m);
            if (!m_stop)
                QThread::msleep(50);
        }
    }

    const int m_port;
    const std::string m_filter;
    const std::string m_clientId;
    const bool m_persistent;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_subscribed{false};
    int m_subscribeMid = -1;
    mutable std::mutex m_mutex;
    QVector<Message> m_messages;
    std::thread m_thread;
};
