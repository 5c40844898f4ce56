#pragma once

#include "PlcParamEditor.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class QLineEdit;

namespace Ui {
class PlcSetup;
}

// The PLC's parameters of plc.txt, one row each: read one, read all (also every second
// while the dialog is shown), write, write and save. It talks to the PLC through
// g_modbus. While it is shown g_plc_setup_open is set; hiding it, however it is closed,
// stops the polling and clears the flag, so that the window's own polling resumes.
class PlcSetup : public QDialog
{
    Q_OBJECT

public:
    enum Column { kName, kRead, kReadButton, kWrite, kWriteButton, kSaveButton, kRemark, kColumns };
    static constexpr int kPollMs = 1000;
    // After a poll that found the PLC silent, this many ticks pass without asking it: each
    // silent read holds the screen for the link's 1 s time-out.
    static constexpr int kTicksSkippedAfterFailure = 4;

    explicit PlcSetup(QWidget *parent = nullptr);
    ~PlcSetup() override;

    bool polling() const { return m_timer.isActive(); }

private slots:
    void click_read();
    void click_write();
    void click_save();
    void on_toolButton_batch_read_released();
    void on_toolButton_keyboard_released();
    void on_toolButton_close_released();
    void handleTimeout();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int rowOf(QObject *button) const;
    QLineEdit *writeEdit(int row) const;
    void showRead(int row, const QString &text);

    std::unique_ptr<Ui::PlcSetup> ui;
    PlcParamEditor m_editor;
    QTimer m_timer;
    int m_ticksToSkip = 0;
};
