#include "db_label.h"

#include <QSignalSpy>
#include <QtTest>

// Taps on the clickable label, as the touch panel delivers them: a double tap arrives
// as press, release, double click, release.
class tst_db_label : public QObject
{
    Q_OBJECT

private slots:
    void taps_data()
    {
        // Steps: p press, r release, d double click, wN wait N ms, =N clicks so far.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("doubleClicks");
        QTest::newRow("one press, a click only after the delay") << "p r w150 =0" << 1 << 0;
        QTest::newRow("double click") << "p r d r" << 0 << 1;
        QTest::newRow("two presses 400 ms apart") << "p r w400 =1 p r" << 2 << 0;
        QTest::newRow("second press restarts the delay") << "p r w150 p r w200 =0" << 1 << 0;
        QTest::newRow("double click after a click") << "p r w400 p r d r" << 1 << 1;
    }

    void taps()
    {
        QFETCH(QString, steps);
        QFETCH(int, clicks);
        QFETCH(int, doubleClicks);

        db_label label(nullptr);
        label.resize(100, 100);
        QSignalSpy click(&label, &db_label::QlabelClick);
        QSignalSpy doubleClick(&label, &db_label::QlabelDoubleClick);

        for (const QString &step : steps.split(' ')) {
            if (step == "p")
                QTest::mousePress(&label, Qt::LeftButton);
            else if (step == "r")
                QTest::mouseRelease(&label, Qt::LeftButton);
            else if (step == "d")
                QTest::mouseDClick(&label, Qt::LeftButton);
            else if (step.startsWith('w'))
                QTest::qWait(step.mid(1).toInt());
            else if (step.startsWith('='))
                QCOMPARE(click.count(), step.mid(1).toInt());
        }
        // Well past the delay: every pending click has been decided.
        QTest::qWait(db_label::kClickDelayMs + 200);
        QCOMPARE(click.count(), clicks);
        QCOMPARE(doubleClick.count(), doubleClicks);
    }
};

QTEST_MAIN(tst_db_label)
#include "tst_db_label.moc"
