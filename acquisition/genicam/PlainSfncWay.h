#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class AravisCamera;

// How a GenICam camera of a maker other than Hikrobot carries out the station's HIK-shaped
// set-up and reject pulse, in the standard feature names (SFNC): the set-up's meaning is
// kept, its HIK line numbers and enumeration values are not. Per maker, which input line
// triggers the frames and which output line, driven by which user output, carries the
// reject pulse:
//
//   maker     frame trigger   reject output
//   Basler    Line3           Line4 from UserOutput3
//   Balluff   Line4           Line0 from Timer1, started by UserOutput0
//   others    Line0           Line1 from UserOutput1
//
// The pulse is the user output set true, and false again after the strobe duration the
// set-up asked for (on a thread of this object's own, so that the edge that fired it does
// not wait).
class PlainSfncWay
{
public:
    struct Lines
    {
        std::string trigger;
        std::string reject;
        std::string userOutput; // "UserOutput1"
        bool timer = false;     // the output is a timer's, started by the user output
    };
    static Lines linesFor(const std::string &maker);

    PlainSfncWay(AravisCamera &camera, const std::string &maker);
    ~PlainSfncWay();
    PlainSfncWay(const PlainSfncWay &) = delete;
    PlainSfncWay &operator=(const PlainSfncWay &) = delete;

    const Lines &lines() const { return m_lines; }

    // The HIK-shaped writes, translated; true when the camera took what they mean.
    bool setEnum(const char *key, unsigned value);
    bool setInt(const char *key, int64_t value);
    bool setBool(const char *key, bool value);
    bool execute(const char *command);

private:
    bool configureReject();
    bool debounceTrigger(int64_t time);
    void clearLoop();

    AravisCamera &m_camera;
    const Lines m_lines;
    unsigned m_selectedLine = 0; // the HIK line number last selected
    int64_t m_pulseUs = 10000;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_pending = false;              // a pulse is up and waits to be cleared
    std::chrono::steady_clock::time_point m_clearAt;
    std::thread m_clearer;
};
