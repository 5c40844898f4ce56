// The alarm history dialog over the history the status timer keeps.
#include "AlarmDialog.h"
#include "PlcState.h"

#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

class TstAlarmDialog : public QObject
{
    Q_OBJECT

private slots:
    void historyAndClear();
};

void TstAlarmDialog::historyAndClear()
{
    // Codes 3, 5, 3 as the status timer appends them; the first one acknowledged.
    const QStringList texts = PlcState::defaultAlarmTexts();
    const QDateTime t0(QDate(2026, 3, 9), QTime(7, 5, 1));
    g_alarm_history = {{AlarmRecord::timeText(t0), AlarmRecord::timeText(t0.addSecs(30)), texts[3], 3},
                       {AlarmRecord::timeText(t0.addSecs(60)), QString(), texts[5], 5},
                       {AlarmRecord::timeText(t0.addSecs(61)), QString(), texts[3], 3}};
    g_last_alarm_code = 3;

    AlarmDialog dialog;
    dialog.show();
    auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    QStringList headers, widths, rows;
    for (int c = 0; c < table->columnCount(); ++c) {
        headers << table->horizontalHeaderItem(c)->text();
        widths << QString::number(table->columnWidth(c));
    }
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->item(r, c)->text();
        rows << cells.join(QLatin1Char('|'));
    }
    QCOMPARE(headers.join(QLatin1Char(' ')), QStringLiteral("报警开始时间 报警处理时间 报警信息 报警代码"));
    QCOMPARE(widths.join(QLatin1Char(' ')), QStringLiteral("140 140 380 120"));
    QCOMPARE(rows, QStringList({QStringLiteral("2026-03-09 07:05:01|2026-03-09 07:05:31|1#相机有剔除|3"),
                                QStringLiteral("2026-03-09 07:06:01||1#相机通讯故障|5"),
                                QStringLiteral("2026-03-09 07:06:02||1#相机有剔除|3")}));

    // Alarms that arrive while it is open show the next time only.
    g_alarm_history.append({AlarmRecord::timeText(t0.addSecs(90)), QString(), texts[4], 4});
    QCOMPARE(table->rowCount(), 3);

    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pushButton_clear")), Qt::LeftButton);
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(g_alarm_history.isEmpty());
    QCOMPARE(g_last_alarm_code, 3);   // the same code again adds no record
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pushButton_close")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(AlarmDialog().findChild<QTableWidget *>(QStringLiteral("tableWidget"))->rowCount(), 0);
}

QTEST_MAIN(TstAlarmDialog)
#include "tst_alarmdialog.moc"
