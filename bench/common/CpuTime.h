#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

// CPU time for the benchmarks' figures, in seconds of user plus system time.

// This process's, all its threads'.
inline double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A thread's or a process's, from its /proc stat file ("/proc/PID/stat",
// "/proc/self/task/TID/stat"); -1 when it cannot be read.
inline double statCpuSeconds(const QString &statPath)
{
    QFile f(statPath);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble(); // utime, stime
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// CPU time the host gave to others while this virtual machine's CPUs wanted it (the
// steal column of /proc/stat), in seconds over all CPUs; 0 where the kernel counts none.
inline double stolenSeconds()
{
    std::FILE *stat = std::fopen("/proc/stat", "r");
    if (!stat)
        return 0;
    unsigned long long v[8] = {};
    const int n = std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                              &v[4], &v[5], &v[6], &v[7]);
    std::fclose(stat);
    return n == 8 ? double(v[7]) / double(sysconf(_SC_CLK_TCK)) : 0;
}

// The calling thread's time on a CPU and time runnable but waiting for one, in ms since it
// started (/proc/thread-self/schedstat; zeros where the kernel keeps no such account), and
// of its CPU time the part in the kernel, with the page faults it took there.
struct ThreadSchedule
{
    double onCpuMs = 0;
    double waitingMs = 0;
    double systemMs = 0;
    long minorFaults = 0;
};
inline ThreadSchedule threadSchedule()
{
    ThreadSchedule s;
    if (std::FILE *f = std::fopen("/proc/thread-self/schedstat", "r")) {
        unsigned long long run = 0, wait = 0;
        if (std::fscanf(f, "%llu %llu", &run, &wait) == 2) {
            s.onCpuMs = double(run) / 1e6;
            s.waitingMs = double(wait) / 1e6;
        }
        std::fclose(f);
    }
    rusage u{};
    if (getrusage(RUSAGE_THREAD, &u) == 0) {
        s.systemMs = double(u.ru_stime.tv_sec) * 1e3 + double(u.ru_stime.tv_usec) / 1e3;
        s.minorFaults = u.ru_minflt;
    }
    return s;
}
