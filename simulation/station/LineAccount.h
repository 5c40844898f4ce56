#pragma once

#include "CameraSlot.h"
#include "LineSimulator.h"

#include <QObject>
#include <QStringList>

class ProductAccount;
class QTimer;
class SimulatedStation;

// The simulated line's account of the station's ejections, per camera position: what
// the line saw (products, bad ones, right, missed and wrong ejections) beside what the
// station counted (products cut wrongly, late verdicts), and, product by product, whose
// error a wrong ejection was: the model's (judged-wrong) or the station's (paired-wrong).
// Printed to standard output on a timer and on demand, one line per position bound to a
// simulated camera, and a line on the pictures when they are generated:
//   line 1#: products 894 ng 83 ejected-right 11 ng-missed 72 good-ejected 82 cut-wrongly 3 late 5 judged-wrong 4 paired-wrong 0
class LineAccount : public QObject
{
    Q_OBJECT
public:
    // Neither the station nor the slots are owned; both must outlive the account. The
    // line compares its products with the station's from here on (watch()).
    LineAccount(const SimulatedStation &station, const CameraSlot (&positions)[4],
                QObject *parent = nullptr);

    // Has the line compare each product of `camera` at the ejector with what the station,
    // through its position's account, decided for the same product.
    static void watch(LineSimulator &line, int camera, const ProductAccount &account);

    struct Row
    {
        int position = 0; // from 0
        LineSimulator::Counters line;
        uint64_t cutWrongly = 0;
        uint64_t late = 0;
    };
    // One per position bound to a simulated camera.
    std::vector<Row> rows() const;
    QStringList lines() const;
    // Prints the lines and hands the rows to `accounted`.
    void print();
    // Prints every periodMs on the owner's thread.
    void start(int periodMs);
    void stop();

signals:
    void accounted(const std::vector<LineAccount::Row> &rows);

private:
    const SimulatedStation &m_station;
    const CameraSlot (&m_positions)[4];
    QTimer *m_timer;
};
