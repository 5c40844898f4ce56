#pragma once

#include <QDialog>
#include <QPointer>
#include <QTime>

#include <memory>

class QLineEdit;
class camera_glue;
class change_shift;
class output_statistic;

namespace Ui {
class DialogSetup;
}

// The administrator's settings: start-up options, camera values, image saving, the two
// passwords, the recipe, shift times and statistics, saving conf.txt, and the exit.
// Values reach the settings record through the "确定" buttons or save; the file only
// through save.
class DialogSetup : public QDialog
{
    Q_OBJECT

public:
    explicit DialogSetup(QWidget *parent = nullptr);
    ~DialogSetup() override;

    // The sub-dialog now held (null when none is open), for the window's tests and ours.
    camera_glue *recipeDialog() const;
    change_shift *shiftDialog() const;
    output_statistic *statisticDialog() const;

signals:
    void system_exit();
    void sendMsgToShift(QTime timeA, QTime timeB, QTime timeC);
    void sendMsgToOutput();
    void sendMsgToConfig(int ptr[][3]);
    // conf.txt or a password file was replaced whole by a save here.
    void fileSaved(const QString &path);

private slots:
    void on_toolButton_keyboard_released();
    void on_pushButton_exit_released();
    void on_pushButton_save_released();
    void on_pushButton_close_released();
    void on_pushButton_desktop_released();
    void on_pushButton_image_released();
    void on_pushButton_pswd_released();
    void on_pushButton_pswd_op_released();
    void on_pushButton_expo_released();
    void on_pushButton_filter_released();
    void on_pushButton_config_released();
    void on_pushButton_change_released();
    void on_pushButton_statistic_released();
    void on_checkBox_auto_open_clicked(bool checked);
    void on_checkBox_auto_work_clicked(bool checked);
    void recMsgFromDialogConfig(int ptr[][3]);
    void recMsgFromChangeShift(QTime timeA, QTime timeB, QTime timeC);

private:
    void applySaveMode();
    void applyExposure();
    void applyFilter();
    void centre(QWidget *dialog) const;

    std::unique_ptr<Ui::DialogSetup> ui;
    QLineEdit *m_expo[4];
    QLineEdit *m_gain[4];
    QLineEdit *m_filter[4];
    // Children of this dialog; QPointer because a sub-dialog may go with its parent first.
    QPointer<camera_glue> m_recipe;
    QPointer<change_shift> m_shift;
    QPointer<output_statistic> m_statistic;
};
