#include "AlarmDialog.h"

#include "PlcState.h"
#include "ui_AlarmDialog.h"

AlarmDialog::AlarmDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
    , ui(std::make_unique<Ui::AlarmDialog>())
{
    ui->setupUi(this);
    QTableWidget *table = ui->tableWidget;
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels({QStringLiteral("报警开始时间"), QStringLiteral("报警处理时间"),
                                      QStringLiteral("报警信息"), QStringLiteral("报警代码")});
    const int widths[] = {140, 140, 380, 120};
    for (int c = 0; c < 4; ++c)
        table->setColumnWidth(c, widths[c]);
    table->setRowCount(g_alarm_history.size());
    for (int row = 0; row < g_alarm_history.size(); ++row) {
        const AlarmRecord &r = g_alarm_history[row];
        table->setItem(row, 0, new QTableWidgetItem(r.startTime));
        table->setItem(row, 1, new QTableWidgetItem(r.handleTime));
        table->setItem(row, 2, new QTableWidgetItem(r.message));
        table->setItem(row, 3, new QTableWidgetItem(QString::number(r.code)));
    }
}

AlarmDialog::~AlarmDialog() = default;

void AlarmDialog::on_pushButton_close_released()
{
    close();
}

void AlarmDialog::on_pushButton_clear_released()
{
    for (int row = ui->tableWidget->rowCount() - 1; row >= 0; --row)
        ui->tableWidget->removeRow(row);
    g_alarm_history.clear();
}
