#pragma once

#include "CameraSlot.h"

#include <QObject>
#include <QStringList>

class QTimer;
class SimulatedStation;

// The simulated line's account of the station's ejections, per camera position: what
// the line saw (products, bad ones, right, missed and wrong ejections) beside what the
// station counted (products cut wrongly, late verdicts). Printed to standard output on a
// timer and on demand, one line per position bound to a simulated camera:
//   line 1#: products 894 ng 83 ejected-right 11 ng-missed 72 good-ejected 82 cut-wrongly 3 late 5
class LineAccount : public QObject
{
    Q_OBJECT
public:
    // Neither the station nor the slots are owned; both must outlive the account.
    LineAccount(const SimulatedStation &station, const CameraSlot (&positions)[4],
                QObject *parent = nullptr);

    QStringList lines() const;
    void print() const;
    // Prints every periodMs on the owner's thread.
    void start(int periodMs);
    void stop();

private:
    const SimulatedStation &m_station;
    const CameraSlot (&m_positions)[4];
    QTimer *m_timer;
};
