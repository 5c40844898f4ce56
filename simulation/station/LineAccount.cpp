#include "LineAccount.h"

#include "FrameSource.h"
#include "LineSimulator.h"
#include "ProductAccount.h"
#include "SimulatedStation.h"

#include <QTimer>

#include <cstdio>
#include <vector>

LineAccount::LineAccount(const SimulatedStation &station, const CameraSlot (&positions)[4],
                         QObject *parent)
    : QObject(parent)
    , m_station(station)
    , m_positions(positions)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &LineAccount::print);
    std::vector<const ProductAccount *> inspected;
    for (int p = 0; p < 4; ++p) {
        const int camera = m_positions[p].found ? m_station.cameraIndexOf(m_positions[p]) : -1;
        if (camera < 0)
            continue;
        watch(m_station.line(), camera, g_product_account[p]);
        inspected.push_back(&g_product_account[p]);
    }
    m_station.drawPicturesWhileInspectionKeepsUp(inspected);
}

void LineAccount::watch(LineSimulator &line, int camera, const ProductAccount &account)
{
    LineSimulator::StationView view;
    view.lastProduct = [&account] { return account.lastProduct(); };
    view.outcome = [&account](uint64_t product) {
        const ProductAccount::Outcome o = account.outcome(product);
        LineSimulator::StationOutcome s;
        s.known = o.known;
        s.judged = o.judged;
        s.good = o.good;
        s.rejected = o.rejected;
        s.cutWrongly = o.cutWrongly;
        return s;
    };
    line.watchStation(camera, std::move(view));
}

std::vector<LineAccount::Row> LineAccount::rows() const
{
    std::vector<Row> rows;
    for (int p = 0; p < 4; ++p) {
        const CameraSlot &slot = m_positions[p];
        if (!slot.found)
            continue;
        const int camera = m_station.cameraIndexOf(slot);
        if (camera < 0)
            continue;
        const ProductAccount &a = g_product_account[p];
        rows.push_back(Row{p, m_station.line().counters(camera), a.cutWrongly(), a.notInTime()});
    }
    return rows;
}

QStringList LineAccount::lines() const
{
    QStringList lines;
    for (const Row &r : rows()) {
        const LineSimulator::Counters &c = r.line;
        lines << QStringLiteral("line %1#: products %2 ng %3 ejected-right %4 ng-missed %5 "
                                "good-ejected %6 cut-wrongly %7 late %8 judged-wrong %9 paired-wrong %10")
                     .arg(r.position + 1)
                     .arg(c.products)
                     .arg(c.ngProducts)
                     .arg(c.correctEjections)
                     .arg(c.missedEjections)
                     .arg(c.wrongEjections)
                     .arg(r.cutWrongly)
                     .arg(r.late)
                     .arg(c.judgedWrong)
                     .arg(c.pairedWrong);
    }
    const std::string pictures = m_station.source().account();
    if (!pictures.empty())
        lines << QString::fromStdString(pictures);
    return lines;
}

void LineAccount::print()
{
    for (const QString &line : lines())
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    emit accounted(rows());
}

void LineAccount::start(int periodMs)
{
    m_timer->start(periodMs);
}

void LineAccount::stop()
{
    m_timer->stop();
}
