#include "EjectionChain.h"

#include "GlueDotDetector.h"
#include "LineAccount.h"
#include "LineSimulator.h"
#include "ProductAccount.h"
#include "StationQueues.h"
#include "SysConf.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

EjectionChain::EjectionChain(SimulatedStation::Settings settings, QObject *parent)
    : QObject(parent)
    , m_station((GlueDotDetector::chooseBackend(), // before the line's threads use OpenCV
                 std::make_unique<SimulatedStation>(std::move(settings))))
{
    StationQueues::create();
    m_station->install();
}

EjectionChain::~EjectionChain()
{
    m_station->line().stop();
    m_registry.closeAll();
    for (auto &worker : m_workers)
        worker.reset();
    m_station.reset();
}

void EjectionChain::setDetector(int position, WorkThread::DetectOne one, WorkThread::DetectBatch batch)
{
    m_standInOne[position] = std::move(one);
    m_standInBatch[position] = std::move(batch);
}

bool EjectionChain::open()
{
    m_registry.EnumerateCameras(m_positions, false, g_sys_conf);
    for (int p = 0; p < 4; ++p) {
        if (!m_positions[p].found)
            continue;
        if (!m_standInOne[p] && !g_detector[p].initDetector())
            return false;
        m_workers[p] = std::make_unique<WorkThread>();
        m_workers[p]->init(g_image_queue[p], m_positions[p].vendor, p);
        if (m_standInOne[p])
            m_workers[p]->setDetector(m_standInOne[p], m_standInBatch[p]);
        if (m_reporter)
            m_workers[p]->setReporter(m_reporter);
        // On the work thread, right after it put the verdict into the list.
        connect(m_workers[p].get(), &WorkThread::event_ok, this,
                [this](int cam, qulonglong product) { onVerdict(cam, product); }, Qt::DirectConnection);
        connect(m_workers[p].get(), &WorkThread::event_ng, this,
                [this](int cam, qulonglong product) { onVerdict(cam, product); }, Qt::DirectConnection);
        m_workers[p]->start(QThread::HighestPriority);
        if (!m_registry.SetCameraOpen(p, true))
            return false;
        LineAccount::watch(m_station->line(), cameraOf(p), g_product_account[p]);
    }
    std::vector<const ProductAccount *> inspected;
    for (int p : positions())
        inspected.push_back(&g_product_account[p]);
    m_station->drawPicturesWhileInspectionKeepsUp(inspected);
    m_registry.DisableDebugMode(); // hardware-triggered
    return !positions().empty();
}

void EjectionChain::onVerdict(int cam, qulonglong product)
{
    if (cam < 0 || cam > 3)
        return;
    const auto waited = ProductAccount::Clock::now() - g_product_account[cam].closedAt(product);
    m_latency.add(std::chrono::duration<double, std::milli>(waited).count());
}

int EjectionChain::cameraOf(int p) const
{
    return m_station->cameraIndexOf(m_positions[p]);
}

std::vector<EjectionChain::Step> EjectionChain::run(double productsPerMinute, int ms, bool warmUp)
{
    begin(productsPerMinute, warmUp);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return end();
}

void EjectionChain::begin(double productsPerMinute, bool warmUp)
{
    LineSimulator &line = m_station->line();
    // Each run starts on an empty line (the last one's end cleared its conveyor).
    m_registry.clearForWork();
    m_registry.forgetBoxesAhead();
    if (warmUp) {
        std::vector<int> real;
        for (int p : positions())
            if (!m_standInOne[p])
                real.push_back(p);
        batchWarmUp(real);
    }
    line.setKeepHistory(true);
    m_before.clear();
    for (int p : positions()) {
        const ProductAccount &a = g_product_account[p];
        m_before.push_back({a.lastProduct(), a.cutWrongly(), a.notInTime(), a.unjudged(),
                            line.counters(cameraOf(p)), line.history(cameraOf(p)).size()});
    }
    line.start(productsPerMinute);
}

std::vector<EjectionChain::Step> EjectionChain::end()
{
    LineSimulator &line = m_station->line();
    line.stop();
    line.settle(2000);
    line.finish();
    line.clearConveyor();
    // Verdicts still on their way are late by now; let them arrive and be dropped.
    QEventLoop drain;
    QTimer::singleShot(300, &drain, &QEventLoop::quit);
    drain.exec();
    return tally();
}

std::vector<EjectionChain::Step> EjectionChain::tally() const
{
    const LineSimulator &line = m_station->line();
    const std::vector<int> open = positions();
    std::vector<Step> steps;
    for (size_t k = 0; k < open.size() && k < m_before.size(); ++k) {
        const int p = open[k];
        const ProductAccount &a = g_product_account[p];
        const Before &b = m_before[k];
        const LineSimulator::Counters c = line.counters(cameraOf(p));
        Step s;
        s.products = c.judged - b.line.judged;
        s.ejectedRight = c.correctEjections - b.line.correctEjections;
        s.ngMissed = c.missedEjections - b.line.missedEjections;
        s.goodEjected = c.wrongEjections - b.line.wrongEjections;
        s.lineJudgedWrong = c.judgedWrong - b.line.judgedWrong;
        s.linePairedWrong = c.pairedWrong - b.line.pairedWrong;
        s.cutWrongly = int(a.cutWrongly() - b.cut);
        s.late = int(a.notInTime() - b.late);
        s.unjudged = int(a.unjudged() - b.unjudged);
        // The line's i-th product of this run is the station's product lastProduct + 1 + i.
        const std::vector<LineSimulator::JudgedProduct> history = line.history(cameraOf(p));
        for (size_t i = b.history; i < history.size(); ++i) {
            s.ng += history[i].ng;
            const ProductAccount::Outcome o = a.outcome(b.lastProduct + 1 + (i - b.history));
            if (!o.known || o.rejected != history[i].ejected)
                ++s.pairingErrors;
            else if ((!o.judged || o.cutWrongly) && !history[i].ng && o.rejected)
                ++s.goodEjectedByRule;
            else if (o.judged && !o.cutWrongly && o.good == history[i].ng)
                ++(history[i].ng ? s.modelMisses : s.modelFalseAlarms);
        }
        steps.push_back(s);
    }
    return steps;
}
