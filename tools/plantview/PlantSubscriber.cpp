#include "PlantSubscriber.h"

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kLoopMs = 100; // also how long a stop request may wait

// libmosquitto's sentences end in a full stop; ours go on after them.
std::string withoutStop(std::string text)
{
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

std::string errorText(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return withoutStop(mosquitto_strerror(rc));
}

void initLibrary()
{
    static const int once = [] {
        mosquitto_lib_init();
        return 0;
    }();
    (void)once;
}
} // namespace

PlantSubscriber::PlantSubscriber(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    initLibrary();
}

PlantSubscriber::~PlantSubscriber()
{
    stop();
}

QString PlantSubscriber::address() const
{
    return QStringLiteral("%1:%2").arg(m_options.host).arg(m_options.port);
}

void PlantSubscriber::start()
{
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void PlantSubscriber::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void PlantSubscriber::say(bool up, const std::string &text)
{
    emit link(up, QString::fromStdString(text));
}

void PlantSubscriber::fail(const std::string &reason)
{
    if (reason == m_lastFailure)
        return;
    m_lastFailure = reason;
    say(false, "no connection to the broker at " + address().toStdString() + ": " + reason);
}

void PlantSubscriber::run()
{
    while (!m_stopping) {
        connection();
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return m_stopping.load(); });
    }
}

void PlantSubscriber::connection()
{
    // A fresh client every time, with a name of libmosquitto's choosing: any number of
    // views may watch the same broker, and none needs a session kept for it.
    struct mosquitto *m = mosquitto_new(nullptr, true, this);
    if (!m) {
        fail("the MQTT client could not be made (" + std::string(std::strerror(errno)) + ")");
        return;
    }
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m, &PlantSubscriber::onConnect);
    mosquitto_subscribe_callback_set(m, &PlantSubscriber::onSubscribe);
    mosquitto_message_callback_set(m, &PlantSubscriber::onMessage);
    const std::string user = m_options.user.toStdString(), password = m_options.password.toStdString();
    if (!user.empty())
        mosquitto_username_pw_set(m, user.c_str(), password.empty() ? nullptr : password.c_str());
    const std::string caFile = m_options.caFile.toStdString();
    if (!caFile.empty()) {
        const int rc = mosquitto_tls_set(m, caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail("the CA file " + caFile + " cannot be used (" + errorText(rc) + ")");
            mosquitto_destroy(m);
            return;
        }
    }

    m_connack = -1;
    m_subscribeMid = -1;
    m_subscribed = false;
    const std::string host = m_options.host.toStdString();
    int rc = mosquitto_connect_async(m, host.c_str(), m_options.port, 10);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail(errorText(rc));
        mosquitto_destroy(m);
        return;
    }
    const Clock::time_point began = Clock::now();
    while (!m_stopping) {
        rc = mosquitto_loop(m, kLoopMs, 1);
        const int loopErrno = errno;
        if (m_connack > 0) {
            fail("the broker refused the connection (" + withoutStop(mosquitto_connack_string(m_connack)) + ")");
            break;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            errno = loopErrno;
            if (m_subscribed && rc == MOSQ_ERR_CONN_LOST)
                fail("the connection was lost");
            else if (m_subscribed)
                fail("the connection was lost (" + errorText(rc) + ")");
            else
                fail(errorText(rc));
            break;
        }
        if (m_connack < 0
            && std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count()
                   > kConnectTimeoutMs) {
            fail("no answer within " + std::to_string(kConnectTimeoutMs / 1000) + " s");
            break;
        }
    }
    if (m_stopping && m_connack == 0) {
        mosquitto_disconnect(m);
        mosquitto_loop(m, kLoopMs, 1);
    }
    mosquitto_destroy(m);
}

void PlantSubscriber::onConnect(struct mosquitto *m, void *self, int rc)
{
    PlantSubscriber *s = static_cast<PlantSubscriber *>(self);
    s->m_connack = rc;
    if (rc == 0) {
        const int sent = mosquitto_subscribe(m, &s->m_subscribeMid, kFilter, 1);
        if (sent != MOSQ_ERR_SUCCESS)
            s->fail("the subscription could not be sent (" + errorText(sent) + ")");
    }
}

void PlantSubscriber::onSubscribe(struct mosquitto *, void *self, int mid, int count, const int *granted)
{
    PlantSubscriber *s = static_cast<PlantSubscriber *>(self);
    if (mid != s->m_subscribeMid)
        return;
    // 0x80: the broker keeps the topics from this login.
    if (count < 1 || granted[0] > 2) {
        s->fail(std::string("the broker refused the subscription to ") + kFilter);
        return;
    }
    s->m_subscribed = true;
    s->m_lastFailure.clear();
    s->say(true, std::string("listening to ") + kFilter + " at " + s->address().toStdString());
}

void PlantSubscriber::onMessage(struct mosquitto *, void *self, const struct mosquitto_message *msg)
{
    PlantSubscriber *s = static_cast<PlantSubscriber *>(self);
    if (!msg->topic)
        return;
    emit s->message(QString::fromUtf8(msg->topic),
                    QByteArray(static_cast<const char *>(msg->payload), msg->payload ? msg->payloadlen : 0),
                    QDateTime::currentDateTime(), msg->retain);
}
