#pragma once

#include "CameraRegistry.h"
#include "DelayStats.h"
#include "LineSimulator.h"
#include "SimulatedStation.h"
#include "WorkThread.h"

#include <QObject>

#include <memory>
#include <vector>

// The station's whole road of a product without its window, on the simulated line:
// camera -> capture worker -> inspection worker (which hands the verdict on) -> reject
// output -> the line's ejector. For tests and benchmarks that
// must see the ejections the line counts beside what the station decided.
//
// Uses the process-wide queues, settings (g_sys_conf) and detectors; the real detectors
// read "../model/" and "alg_jd.jpg" relative to the working directory.
class EjectionChain : public QObject
{
    Q_OBJECT
public:
    struct Step
    {
        int products = 0;       // judged at the ejector during the step
        int ng = 0;             // of those, bad in truth
        int ejectedRight = 0;
        int ngMissed = 0;
        int goodEjected = 0;
        int cutWrongly = 0;     // station: windows without frames, wrong frame counts
        int late = 0;           // station: verdicts too late, or products inspection had no room for
        int unjudged = 0;       // products ejected or passed by MISMATCHACT
        int pairingErrors = 0;  // the ejector did not do what the station decided
        // Judged in time, but the verdict differs from the truth: a bad product passed, a
        // good one rejected. Frames cut wrongly are judged by MISMATCHACT, not the model.
        int modelMisses = 0;
        int modelFalseAlarms = 0;
        int goodEjectedByRule = 0; // good products ejected by MISMATCHACT: late or cut wrongly
        // The same two figures as the line counts them for the running station's account
        // (LineAccount), product by product as each reaches the ejector, without history.
        int lineJudgedWrong = 0; // modelMisses + modelFalseAlarms
        int linePairedWrong = 0; // pairingErrors
    };

    explicit EjectionChain(SimulatedStation::Settings settings, QObject *parent = nullptr);
    ~EjectionChain() override;

    // A detector in place of the position's network (before open()).
    void setDetector(int position, WorkThread::DetectOne one, WorkThread::DetectBatch batch);
    // Told of every product's outcome on its inspection thread (before open()).
    void setReporter(WorkThread::Reporter reporter) { m_reporter = std::move(reporter); }
    // Enumerates and opens the cameras, loads the networks of the positions without a
    // stand-in, starts the inspection workers. False when a camera or network fails.
    bool open();

    // Runs the line at `productsPerMinute` for `ms`, the station ready for work as at a
    // start (lists cleared, detectors warmed up), then stops and clears it. Per open
    // position, in position order.
    std::vector<Step> run(double productsPerMinute, int ms, bool warmUp = true);
    // The same in parts: begin() readies the station and starts the line; tally() counts
    // the products judged since then, the line still running; end() stops and clears the
    // line and counts them all.
    void begin(double productsPerMinute, bool warmUp = true);
    std::vector<Step> tally() const;
    std::vector<Step> end();

    std::vector<int> positions() const { return m_registry.openedPositions(); }
    SimulatedStation &station() { return *m_station; }
    // Falling edge -> verdict handed to the capture worker, over every run so far.
    DelayStats &verdictLatency() { return m_latency; }

private:
    void onVerdict(int cam, qulonglong product);
    int cameraOf(int position) const;

    struct Before
    {
        uint64_t lastProduct, cut, late, unjudged;
        LineSimulator::Counters line;
        size_t history;
    };

    std::unique_ptr<SimulatedStation> m_station;
    std::vector<Before> m_before; // per open position, at begin()
    CameraSlot m_positions[4];
    CameraRegistry m_registry;
    std::unique_ptr<WorkThread> m_workers[4];
    WorkThread::DetectOne m_standInOne[4];
    WorkThread::DetectBatch m_standInBatch[4];
    WorkThread::Reporter m_reporter;
    DelayStats m_latency;
};
