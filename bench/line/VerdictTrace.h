#pragma once

#include "CpuTime.h"
#include "ProductAccount.h"
#include "ProductReport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

// Each verdict, taken on its work thread: how long after its window closed it came, the
// network's part of that, and how the thread spent the stretch since its previous verdict
// (on a CPU, runnable but waiting for one, or neither: idle or blocked). Tells a verdict
// late because inspection fell behind from one late because its thread did not run.
class VerdictTrace
{
public:
    struct Verdict
    {
        double atS, latencyMs, inspectMs, stretchMs, onCpuMs, waitingMs, systemMs, faults;
        int camera;
        bool inspected;
    };
    void begin()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_verdicts.clear();
        m_start = ProductAccount::Clock::now();
        // A stretch starts at a verdict of this rate, not at the last of the one before.
        for (Last &last : m_last)
            last = Last();
    }
    void add(const ProductReport &r)
    {
        const auto now = ProductAccount::Clock::now();
        const ThreadSchedule sched = threadSchedule();
        std::lock_guard<std::mutex> lock(m_mutex);
        Last &last = m_last[r.camera & 3];
        if (last.at != ProductAccount::Clock::time_point())
            m_verdicts.push_back({seconds(now - m_start),
                                  ms(now - g_product_account[r.camera & 3].closedAt(r.product)),
                                  double(r.inspectMs), ms(now - last.at), sched.onCpuMs - last.sched.onCpuMs,
                                  sched.waitingMs - last.sched.waitingMs, sched.systemMs - last.sched.systemMs,
                                  double(sched.minorFaults - last.sched.minorFaults), r.camera, r.inspected});
        last = {now, sched};
    }
    // Verdicts after the deadline: when they came and where their stretch went, beside
    // the medians of all verdicts.
    void print(double deadlineMs) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Verdict> late;
        for (const Verdict &v : m_verdicts)
            if (v.latencyMs > deadlineMs || !v.inspected)
                late.push_back(v);
        const auto line = [](const char *what, const std::vector<Verdict> &vs) {
            const auto median = [&vs](double Verdict::*field) {
                std::vector<double> x;
                for (const Verdict &v : vs)
                    x.push_back(v.*field);
                if (x.empty())
                    return 0.0;
                std::nth_element(x.begin(), x.begin() + x.size() / 2, x.end());
                return x[x.size() / 2];
            };
            std::printf("    %s %zu: median after the window %.1f ms, network %.1f ms; stretch since the"
                        " thread's previous verdict %.1f ms: on a CPU %.1f (in the kernel %.1f, page faults %.0f),"
                        " waiting for one %.1f\n",
                        what, vs.size(), median(&Verdict::latencyMs), median(&Verdict::inspectMs),
                        median(&Verdict::stretchMs), median(&Verdict::onCpuMs), median(&Verdict::systemMs),
                        median(&Verdict::faults), median(&Verdict::waitingMs));
        };
        std::printf("  verdicts traced:\n");
        line("all", m_verdicts);
        if (late.empty())
            return;
        line("late", late);
        std::printf("    late at (s, camera): ");
        for (size_t i = 0; i < late.size() && i < 40; ++i)
            std::printf("%.1f/%d%s ", late[i].atS, late[i].camera, late[i].inspected ? "" : "(uninspected)");
        std::printf("%s\n", late.size() > 40 ? "..." : "");
        // The worst, whole.
        const Verdict worst = *std::max_element(late.begin(), late.end(), [](const Verdict &a, const Verdict &b) {
            return a.latencyMs < b.latencyMs;
        });
        std::printf("    worst: at %.1f s camera %d, %.1f ms after its window, network %.1f ms, stretch %.1f ms:"
                    " on a CPU %.1f (in the kernel %.1f, page faults %.0f), waiting for one %.1f\n",
                    worst.atS, worst.camera, worst.latencyMs, worst.inspectMs, worst.stretchMs, worst.onCpuMs,
                    worst.systemMs, worst.faults, worst.waitingMs);
    }

private:
    static double ms(ProductAccount::Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
    static double seconds(ProductAccount::Clock::duration d) { return std::chrono::duration<double>(d).count(); }
    struct Last
    {
        ProductAccount::Clock::time_point at;
        ThreadSchedule sched;
    };
    mutable std::mutex m_mutex;
    ProductAccount::Clock::time_point m_start;
    Last m_last[4];
    std::vector<Verdict> m_verdicts;
};
