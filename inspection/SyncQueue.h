#pragma once

#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>

// Bounded blocking FIFO between two threads. put() waits while the queue is full,
// take() while it is empty; tryPut() refuses instead of waiting, and counts the refusal.
// A consumer is stopped by its own stop flag plus an element carrying an empty image,
// delivered after everything queued.
template <typename T>
class SyncQueue
{
public:
    static constexpr int kCapacity = 15;

    explicit SyncQueue(std::string name)
        : m_name(std::move(name))
    {
    }
    SyncQueue(const SyncQueue &) = delete;
    SyncQueue &operator=(const SyncQueue &) = delete;

    const std::string &name() const { return m_name; }

    // Blocks while kCapacity items are queued, then appends a copy and wakes one consumer.
    void put(const T &item)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notFull.wait(lock, [this] { return static_cast<int>(m_items.size()) < m_capacity; });
        m_items.push_back(item);
        noteSize();
        m_notEmpty.notify_one();
    }

    // Appends a copy unless kCapacity items are queued; never waits beyond the mutex. For
    // producers that must not stall (a camera's event thread, an inspection worker's
    // images for saving).
    bool tryPut(const T &item)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (static_cast<int>(m_items.size()) >= m_capacity) {
            ++m_refused;
            return false;
        }
        m_items.push_back(item);
        noteSize();
        m_notEmpty.notify_one();
        return true;
    }

    // Blocks while the queue is empty, then moves the oldest item into out and wakes one
    // producer.
    void take(T &out)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notEmpty.wait(lock, [this] { return !m_items.empty(); });
        out = std::move(m_items.front());
        m_items.pop_front();
        m_notFull.notify_one();
    }

    // The most items queued at once since construction or the last reset: how far the
    // consumer fell behind.
    int highWater() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_highWater;
    }
    void resetHighWater()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_highWater = static_cast<int>(m_items.size());
    }

    // Items tryPut() refused because the queue was full, since construction.
    unsigned long long refused() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_refused;
    }

private:
    void noteSize() { m_highWater = std::max(m_highWater, static_cast<int>(m_items.size())); }

    const std::string m_name;
    mutable std::mutex m_mutex; // guards m_items, m_highWater and m_refused
    std::condition_variable_any m_notFull;
    std::condition_variable_any m_notEmpty;
    std::list<T> m_items; // oldest first
    const int m_capacity = kCapacity;
    int m_highWater = 0;
    unsigned long long m_refused = 0;
};
