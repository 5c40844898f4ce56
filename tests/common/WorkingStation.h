#pragma once

#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "StdoutCapture.h"
#include "TempStation.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <memory>

// What the whole-station tests share: the station they run (the template with recipe
// 5|5|5 and NG images saved; two HIK cameras at 600 products/min, five dots a picture,
// one bad product in ten) and the instruments they watch it with.
namespace WorkingStation {

// Lays the station out in a TempStation (whose bin/ is the working directory).
inline bool layOut(TempStation &station)
{
    if (!TempStation::copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), station.root()))
        return false;
    QByteArray settings = TempStation::read(QStringLiteral("../conf/conf.txt"));
    settings.replace("SAVE=0", "SAVE=1").replace("NO1=0|0|0", "NO1=5|5|5").replace("NO2=0|0|0", "NO2=5|5|5");
    return TempStation::write(QStringLiteral("../conf/conf.txt"), settings)
           && TempStation::write(QStringLiteral("../conf/camsim.txt"),
                                 "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\n"
                                 "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\n"
                                 "RATE=600\nSHOTS=3\nNG_SHARE=0.1\nSOURCE=generated\nSEED=1\nDOTS=5\n");
}

// The PLC simulator at a real line's pace (9600 baud, its scan included) with plc.txt's
// parameters, on a new pseudo-terminal that the station's port (GLUEBOX_PLC_PORT) names.
// Null, with why, where it cannot start (a machine without pseudo-terminals).
inline std::unique_ptr<PlcSimulator> startPlc(const PlcAddrMap &addr, QString *error)
{
    PlcSimulator::Options options;
    options.boxesPerSecond = 10;
    options.baud = 9600;
    auto plc = std::make_unique<PlcSimulator>(
        addr, PlcSimulator::readParameters(QStringLiteral("../conf/plc.txt")), options);
    if (!plc->openPseudoTerminal(error) || !plc->start())
        return nullptr;
    qputenv("GLUEBOX_PLC_PORT", plc->devicePath().toLocal8Bit());
    return plc;
}

template <typename W = QLabel>
W *widget(const QWidget &window, const char *name)
{
    W *w = window.findChild<W *>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

inline int linesWith(const QByteArray &text, const QByteArray &what)
{
    int n = 0;
    for (const QByteArray &line : text.split('\n'))
        n += line.contains(what) ? 1 : 0;
    return n;
}

// The longest gap between the ticks of a fast timer on the GUI thread while it runs.
class GapMeter : public QObject
{
public:
    GapMeter()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { m_longest = std::max(m_longest, m_clock.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start(10);
    }
    qint64 stop()
    {
        m_timer.stop();
        return std::max(m_longest, m_clock.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// Standard output while it lives, given back to the real one at the end whatever
// happened in between, so that a failing check is still seen.
struct PassedOnCapture
{
    QByteArray text;
    std::unique_ptr<StdoutCapture> capture{new StdoutCapture};
    void end()
    {
        if (!capture)
            return;
        text = capture->text();
        capture.reset();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    ~PassedOnCapture() { end(); }
};

} // namespace WorkingStation
