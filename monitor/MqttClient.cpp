#include "MqttClient.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include <pthread.h>

namespace {
using Clock = std::chrono::steady_clock;

// Messages on their way at once: enough to fill a loopback or LAN round trip many times
// over, few enough that a broken connection leaves little to send again.
constexpr size_t kWindow = 100;
constexpr int kLoopMs = 20;
// A third connection in a row that the broker closed before it held (heldMs()) is said as
// one trouble.
constexpr int kShortLivedToSay = 3;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

std::string errorText(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(rc);
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

MqttClient::MqttClient(Options options)
    : m_options(std::move(options))
{
    initLibrary();
}

MqttClient::~MqttClient()
{
    stop(0);
}

long long MqttClient::heldMs() const
{
    // Longer than the longest wait before a retry: two clients that take each other's
    // place reconnect within it, and their connections never count as held.
    return std::max<long long>(2000, 2LL * m_options.maxRetryMs);
}

void MqttClient::setNote(Note note)
{
    m_note = std::move(note);
}

std::string MqttClient::address() const
{
    return m_options.host + ':' + std::to_string(m_options.port);
}

void MqttClient::start()
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "mqtt-client"); // for top and the benchmark
        run();
    });
}

void MqttClient::stop(int drainMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stopping)
            m_drainMs = drainMs;
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool MqttClient::publish(std::string topic, std::string payload, bool retain)
{
    bool firstDrop = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() + m_unackedCount >= m_options.queueBound) {
            if (!m_dropping) {
                m_dropping = true;
                m_droppedBefore = m_dropped;
                firstDrop = true;
            }
            ++m_dropped;
        } else {
            m_queue.push_back(Message{std::move(topic), std::move(payload), retain, 0, false});
            ++m_accepted;
            return true;
        }
    }
    if (firstDrop)
        m_wake.notify_all();
    return false;
}

MqttClient::Stats MqttClient::stats() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Stats s;
    s.accepted = m_accepted;
    s.sent = m_sent;
    s.dropped = m_dropped;
    s.resent = m_resent;
    s.waiting = m_queue.size() + m_unackedCount;
    s.connected = m_connected;
    s.connects = m_connects;
    return s;
}

void MqttClient::say(const std::string &text, bool trouble)
{
    if (m_note)
        m_note(text, trouble);
}

void MqttClient::sayFailure(const std::string &reason)
{
    if (reason == m_lastFailure || m_lostSaid)
        return;
    m_lastFailure = reason;
    m_troubleSaid = true;
    say("Plant link: no connection to the MQTT broker at " + address() + ": " + reason
            + ". The station works on and keeps its messages until the broker answers.",
        true);
}

// Said on the client thread, once when the queue first refuses a message and once when
// everything queued since has reached the broker.
void MqttClient::sayDrops()
{
    uint64_t dropped = 0;
    bool begin = false, over = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_dropping && !m_dropsSaid) {
            begin = true;
            m_dropsSaid = true;
        } else if (m_dropping && m_connected && m_queue.empty() && m_unackedCount == 0) {
            over = true;
            m_dropping = false;
            m_dropsSaid = false;
            dropped = m_dropped - m_droppedBefore;
        }
    }
    if (begin)
        say("Plant link: the queue for the broker at " + address() + " is full ("
                + std::to_string(m_options.queueBound)
                + " messages): newer messages are dropped and counted.",
            true);
    else if (over)
        say("Plant link: the broker at " + address() + " has everything again; "
                + std::to_string(dropped) + " messages were dropped while it was away.",
            false);
}

bool MqttClient::waitBeforeRetry(int ms)
{
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        sayDrops();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stopping)
            return false;
        if (Clock::now() >= until)
            return true;
        m_wake.wait_until(lock, std::min(until, Clock::now() + std::chrono::milliseconds(100)));
        if (m_stopping)
            return false;
    }
}

void MqttClient::run()
{
    int retryMs = 500;
    for (;;) {
        const bool wasConnected = connection();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
        }
        // A connection that held starts the waiting again from the shortest.
        retryMs = wasConnected ? 500 : std::min(retryMs * 2, m_options.maxRetryMs);
        if (!waitBeforeRetry(wasConnected ? 500 : retryMs))
            return;
    }
}

void MqttClient::requeueUnacknowledged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    while (!m_unacked.empty()) {
        m_queue.push_front(std::move(m_unacked.back()));
        m_unacked.pop_back();
    }
    m_unackedCount = 0;
    m_connected = false;
}

void MqttClient::sendQueued(struct mosquitto *m)
{
    while (m_unacked.size() < kWindow) {
        Message message;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_queue.empty())
                return;
            message = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_unackedCount;
        }
        int mid = 0;
        const int rc = mosquitto_publish(m, &mid, message.topic.c_str(),
                                         static_cast<int>(message.payload.size()),
                                         message.payload.data(), 1, message.retain);
        if (rc != MOSQ_ERR_SUCCESS) {
            // The connection is breaking: the loop finds out and everything is sent again.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_front(std::move(message));
            --m_unackedCount;
            return;
        }
        if (message.sentOnce) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_resent;
        }
        message.sentOnce = true;
        message.mid = mid;
        m_unacked.push_back(std::move(message));
    }
}

bool MqttClient::connection()
{
    struct mosquitto *m = mosquitto_new(m_options.clientId.empty() ? nullptr : m_options.clientId.c_str(),
                                        true, this);
    if (!m) {
        sayFailure("the MQTT client could not be created (" + std::string(std::strerror(errno)) + ")");
        return false;
    }
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m, MOSQ_OPT_SEND_MAXIMUM, static_cast<int>(kWindow));
    mosquitto_connect_callback_set(m, &MqttClient::onConnect);
    mosquitto_publish_callback_set(m, &MqttClient::onPublish);
    if (!m_options.user.empty())
        mosquitto_username_pw_set(m, m_options.user.c_str(),
                                  m_options.password.empty() ? nullptr : m_options.password.c_str());
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_options.caFile.empty()) {
        rc = mosquitto_tls_set(m, m_options.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            sayFailure("the CA file " + m_options.caFile + " cannot be used (" + errorText(rc) + ")");
            mosquitto_destroy(m);
            return false;
        }
    }
    if (!m_options.statusTopic.empty())
        mosquitto_will_set(m, m_options.statusTopic.c_str(), static_cast<int>(m_options.offlinePayload.size()),
                           m_options.offlinePayload.data(), 1, true);

    m_connack = -1;
    bool connected = false;
    bool held = false; // connected, and for long enough not to count as thrown out at once
    Clock::time_point connectedAt{};
    rc = mosquitto_connect_async(m, m_options.host.c_str(), m_options.port, m_options.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        sayFailure(errorText(rc));
        mosquitto_destroy(m);
        return false;
    }
    const Clock::time_point began = Clock::now();
    Clock::time_point drainUntil{};
    bool draining = false;
    for (;;) {
        rc = mosquitto_loop(m, kLoopMs, 1);
        const int loopErrno = errno;
        if (m_connack > 0) {
            sayFailure(std::string("the broker refused the connection: ") + mosquitto_connack_string(m_connack));
            break;
        }
        if (rc != MOSQ_ERR_SUCCESS && (rc != MOSQ_ERR_NO_CONN || connected)) {
            errno = loopErrno;
            const std::string reason = errorText(rc);
            if (connected) {
                held = msSince(connectedAt) >= heldMs();
                m_shortLived = held ? 0 : m_shortLived + 1;
                if (m_shortLived >= kShortLivedToSay) {
                    // A broker closes a session when another client takes its identifier:
                    // two stations with one name would take turns without end.
                    if (!std::exchange(m_clashSaid, true))
                        say("Plant link: the MQTT broker at " + address() + " closes the connection of "
                                + m_options.clientId
                                + " right after each connect: is another station using the same name?",
                            true);
                } else if (!m_clashSaid) {
                    say("Plant link: lost the MQTT broker at " + address() + " (" + reason
                            + "); messages wait for it.", true);
                }
                m_lostSaid = true;
                m_troubleSaid = true;
            } else {
                sayFailure(reason);
            }
            break;
        }
        if (!connected && m_connack < 0 && msSince(began) > m_options.connectTimeoutMs) {
            sayFailure("no answer within " + std::to_string(m_options.connectTimeoutMs / 1000) + " s");
            break;
        }
        if (!connected && m_connack == 0) {
            connected = true;
            if (!m_options.statusTopic.empty())
                mosquitto_publish(m, nullptr, m_options.statusTopic.c_str(),
                                  static_cast<int>(m_options.onlinePayload.size()),
                                  m_options.onlinePayload.data(), 1, true);
            uint64_t connects = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_connected = true;
                connects = ++m_connects;
            }
            connectedAt = Clock::now();
            if (!m_clashSaid) {
                if (m_troubleSaid || connects == 1)
                    say("Plant link: connected to the MQTT broker at " + address() + " as "
                            + m_options.clientId + '.',
                        false);
                m_troubleSaid = false;
                m_lostSaid = false;
            }
            m_lastFailure.clear();
        }
        if (connected && m_clashSaid && msSince(connectedAt) >= heldMs()) {
            m_clashSaid = false;
            m_shortLived = 0;
            m_troubleSaid = false;
            m_lostSaid = false;
            say("Plant link: the connection to the MQTT broker at " + address() + " as " + m_options.clientId
                    + " holds again.",
                false);
        }
        if (connected)
            sendQueued(m);
        sayDrops();

        bool stopping = false;
        int drainMs = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            stopping = m_stopping;
            drainMs = m_drainMs;
        }
        if (stopping && !draining) {
            draining = true;
            drainUntil = Clock::now() + std::chrono::milliseconds(connected ? drainMs : 0);
        }
        if (draining) {
            bool empty = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                empty = m_queue.empty() && m_unackedCount == 0;
            }
            if (empty || Clock::now() >= drainUntil) {
                if (connected) {
                    // Gone on purpose: the will is not sent for a clean disconnect.
                    if (!m_options.statusTopic.empty())
                        mosquitto_publish(m, nullptr, m_options.statusTopic.c_str(),
                                          static_cast<int>(m_options.offlinePayload.size()),
                                          m_options.offlinePayload.data(), 1, true);
                    mosquitto_disconnect(m);
                    for (int i = 0; i < 10 && mosquitto_loop(m, kLoopMs, 1) == MOSQ_ERR_SUCCESS; ++i) {
                    }
                }
                break;
            }
        }
    }
    requeueUnacknowledged();
    mosquitto_destroy(m);
    return connected && (held || msSince(connectedAt) >= heldMs());
}

void MqttClient::onConnect(struct mosquitto *, void *self, int rc)
{
    static_cast<MqttClient *>(self)->m_connack = rc;
}

void MqttClient::onPublish(struct mosquitto *, void *self, int mid)
{
    MqttClient *c = static_cast<MqttClient *>(self);
    for (auto it = c->m_unacked.begin(); it != c->m_unacked.end(); ++it) {
        if (it->mid == mid) {
            c->m_unacked.erase(it);
            std::lock_guard<std::mutex> lock(c->m_mutex);
            --c->m_unackedCount;
            ++c->m_sent;
            return;
        }
    }
}
