#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AlarmDialog;
}

// The alarm history (g_alarm_history) as it was when the dialog was opened, oldest first;
// "清空报警" empties table and history.
class AlarmDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AlarmDialog(QWidget *parent = nullptr);
    ~AlarmDialog() override;

private slots:
    void on_pushButton_close_released();
    void on_pushButton_clear_released();

private:
    std::unique_ptr<Ui::AlarmDialog> ui;
};
