#pragma once

#include <list>
#include <mutex>
#include <string>

// Unbounded FIFO guarded by a mutex, never waiting beyond it. Carries one-bit facts
// (verdicts, trigger marks) between the window's verdict hubs and a capture thread.
template <typename T>
class LockedList
{
public:
    explicit LockedList(std::string name)
        : m_name(std::move(name))
    {
    }
    LockedList(const LockedList &) = delete;
    LockedList &operator=(const LockedList &) = delete;

    const std::string &name() const { return m_name; }

    void push(const T &item)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.push_back(item);
    }

    int size() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_items.size());
    }

    // Moves the oldest item into out. Callers test size() first; on an empty list out is
    // left as it was and false is returned rather than reading past the end.
    bool pop(T &out)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_items.empty())
            return false;
        out = m_items.front();
        m_items.pop_front();
        return true;
    }

    // Copies the oldest item into out without removing it; false on an empty list.
    bool peek(T &out) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_items.empty())
            return false;
        out = m_items.front();
        return true;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.clear();
    }

private:
    const std::string m_name;
    mutable std::mutex m_mutex; // guards m_items
    std::list<T> m_items;       // oldest first
};
