#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;

// The station's one connection to the plant's MQTT broker, on a thread of its own.
//
// publish() only queues (a mutex and a deque), so that no inspection, capture or GUI
// thread ever waits for the network. The client thread sends what is queued with QoS 1
// and keeps each message until the broker has acknowledged it: a message that was on its
// way when the connection broke is sent again after the reconnect (so a subscriber may
// see it twice, never not at all). While the broker is away the queue holds up to
// `queueBound` messages; beyond that, new messages are dropped and counted.
//
// Every connection is a fresh libmosquitto client: its own queue is thrown away with it,
// and this one's is the only account of what is still to be sent.
class MqttClient
{
public:
    struct Options
    {
        std::string host;
        int port = 1883;
        std::string clientId;
        std::string user;          // no login when empty
        std::string password;
        std::string caFile;        // TLS against this CA when not empty
        std::string statusTopic;   // retained: onlinePayload at every connect, the will
        std::string onlinePayload; // and offlinePayload when the station is gone
        std::string offlinePayload;
        size_t queueBound = 10000;
        int keepAliveSeconds = 10;
        int connectTimeoutMs = 5000; // for the broker's answer to CONNECT
        int maxRetryMs = 5000;       // reconnect after 0.5 s, doubling up to this
    };

    struct Stats
    {
        uint64_t accepted = 0;  // publish() calls that queued their message
        uint64_t sent = 0;      // acknowledged by the broker
        uint64_t dropped = 0;   // refused by a full queue
        uint64_t resent = 0;    // sent again after a broken connection
        size_t waiting = 0;     // queued or unacknowledged
        bool connected = false;
        uint64_t connects = 0;
    };

    // What the client has to say, from its own thread: a line for the operator and the
    // log, and whether it is a trouble (true) or its end (false). Each is said once: a
    // broker that keeps refusing is not said again until something changes.
    using Note = std::function<void(const std::string &text, bool trouble)>;

    explicit MqttClient(Options options);
    ~MqttClient(); // stop()
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    void setNote(Note note); // before start()
    void start();
    // Sends what is still queued for at most drainMs while connected, says offline, and
    // ends the thread. Returns within drainMs plus about a second whatever the network does.
    void stop(int drainMs = 2000);

    // Any thread; never waits for the network. False when the queue was full.
    bool publish(std::string topic, std::string payload, bool retain = false);
    Stats stats() const;
    // "host:port", for messages.
    std::string address() const;

private:
    struct Message
    {
        std::string topic;
        std::string payload;
        bool retain = false;
        int mid = 0;      // while unacknowledged
        bool sentOnce = false;
    };

    void run();
    // One connection from its attempt to its end; true when the broker took it and it held
    // for a while.
    bool connection();
    void sendQueued(struct mosquitto *m);
    void requeueUnacknowledged();
    void say(const std::string &text, bool trouble);
    void sayFailure(const std::string &reason);
    void sayDrops();
    bool waitBeforeRetry(int ms);
    // A connection closed sooner than this after it was made did not hold: the next try
    // waits as after a failure.
    long long heldMs() const;

    static void onConnect(struct mosquitto *, void *self, int rc);
    static void onPublish(struct mosquitto *, void *self, int mid);

    const Options m_options;
    Note m_note;
    std::thread m_thread;

    mutable std::mutex m_mutex; // guards the queue, the counters and the stop request
    std::condition_variable m_wake;
    std::deque<Message> m_queue;
    uint64_t m_accepted = 0;
    uint64_t m_sent = 0;
    uint64_t m_dropped = 0;
    uint64_t m_resent = 0;
    uint64_t m_connects = 0;
    bool m_connected = false;
    bool m_stopping = false;
    int m_drainMs = 0;
    size_t m_unackedCount = 0;      // m_unacked.size(), for publish()
    bool m_dropping = false;        // dropped since the queue last held everything
    bool m_dropsSaid = false;
    uint64_t m_droppedBefore = 0;   // m_dropped when the dropping began

    // The client thread only:
    std::deque<Message> m_unacked;  // sent, in order, waiting for PUBACK
    int m_connack = -1;             // -1: no answer yet
    std::string m_lastFailure;      // what was said last, so that it is said once
    bool m_troubleSaid = false;     // a trouble was said since the last connect
    bool m_lostSaid = false;        // the loss was said: the failing retries are not
    int m_shortLived = 0;           // connections in a row that the broker closed at once
    bool m_clashSaid = false;       // that was said; losses and connects are not, until one holds
};
