#include "DialogSetup.h"

#include "DesktopActions.h"
#include "SettingsActions.h"
#include "StationPaths.h"
#include "SysConf.h"
#include "UserMessages.h"
#include "camera_glue.h"
#include "change_shift.h"
#include "output_statistic.h"
#include "ui_DialogSetup.h"

#include "BoundedIntValidator.h"
#include <QMutexLocker>

namespace {
void tellDone()
{
    UserMessages::instance().information(QStringLiteral("提示"), QStringLiteral("设置成功"));
}
} // namespace

DialogSetup::DialogSetup(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DialogSetup>())
{
    ui->setupUi(this);
    QLineEdit *expo[] = {ui->lineEdit_expo_1, ui->lineEdit_expo_2, ui->lineEdit_expo_3, ui->lineEdit_expo_4};
    QLineEdit *gain[] = {ui->lineEdit_gain_1, ui->lineEdit_gain_2, ui->lineEdit_gain_3, ui->lineEdit_gain_4};
    QLineEdit *filter[] = {ui->lineEdit_filter_1, ui->lineEdit_filter_2, ui->lineEdit_filter_3,
                           ui->lineEdit_filter_4};
    const SysConf &conf = g_sys_conf;
    for (int k = 0; k < 4; ++k) {
        m_expo[k] = expo[k];
        m_gain[k] = gain[k];
        m_filter[k] = filter[k];
        m_expo[k]->setValidator(new BoundedIntValidator(0, 1000000, m_expo[k]));
        m_gain[k]->setValidator(new BoundedIntValidator(0, 64, m_gain[k]));
        m_filter[k]->setValidator(new BoundedIntValidator(0, 1000000, m_filter[k]));
        m_expo[k]->setText(QString::number(conf.EXPO[k]));
        m_gain[k]->setText(QString::number(conf.GAIN[k]));
        m_filter[k]->setText(QString::number(conf.FILTER[k]));
    }
    ui->checkBox_auto_open->setChecked(conf.AUTO_OPEN == 1);
    ui->checkBox_auto_work->setChecked(conf.AUTO_WORK == 1);
    ui->radioButton_none->setChecked(conf.SAVE == 0);
    ui->radioButton_ng->setChecked(conf.SAVE == 1);
    ui->radioButton_all->setChecked(conf.SAVE == 2);
}

DialogSetup::~DialogSetup() = default;

camera_glue *DialogSetup::recipeDialog() const
{
    return m_recipe;
}

change_shift *DialogSetup::shiftDialog() const
{
    return m_shift;
}

output_statistic *DialogSetup::statisticDialog() const
{
    return m_statistic;
}

void DialogSetup::on_toolButton_keyboard_released()
{
    DesktopActions::startKeyboard();
}

void DialogSetup::on_pushButton_exit_released()
{
    if (!UserMessages::instance().question(QStringLiteral("退出系统"), QStringLiteral("确定退出系统?")))
        return;
    emit system_exit();
    close();
}

void DialogSetup::on_pushButton_save_released()
{
    applySaveMode();
    applyExposure();
    applyFilter();
    if (SettingsActions::save(g_sys_conf))
        emit fileSaved(StationPaths::confFile());
}

void DialogSetup::on_pushButton_close_released()
{
    close();
}

void DialogSetup::on_pushButton_desktop_released()
{
    DesktopActions::showDesktop();
}

void DialogSetup::on_pushButton_image_released()
{
    applySaveMode();
    tellDone();
}

void DialogSetup::on_pushButton_pswd_released()
{
    if (SettingsActions::changePassword(KeypadLogin::Role::Administrator, ui->lineEdit_old->text(),
                                        ui->lineEdit_new->text(), ui->lineEdit_confirm->text()))
        emit fileSaved(StationPaths::adminPasswordFile());
}

void DialogSetup::on_pushButton_pswd_op_released()
{
    if (SettingsActions::changePassword(KeypadLogin::Role::Operator, ui->lineEdit_old_op->text(),
                                        ui->lineEdit_new_op->text(), ui->lineEdit_confirm_op->text()))
        emit fileSaved(StationPaths::operatorPasswordFile());
}

void DialogSetup::on_pushButton_expo_released()
{
    applyExposure();
    tellDone();
}

void DialogSetup::on_pushButton_filter_released()
{
    applyFilter();
    tellDone();
}

void DialogSetup::on_pushButton_config_released()
{
    delete m_recipe;
    m_recipe = new camera_glue(this);
    connect(m_recipe, &camera_glue::sendMsgToDialogSetup, this, &DialogSetup::recMsgFromDialogConfig);
    connect(this, &DialogSetup::sendMsgToConfig, m_recipe, &camera_glue::recMsgFromDialogSetup);
    m_recipe->show();
    centre(m_recipe);
    int values[4][3];
    {
        QMutexLocker locker(&g_sys_conf.lock);
        for (int c = 0; c < 4; ++c)
            for (int i = 0; i < 3; ++i)
                values[c][i] = g_sys_conf.NO[c][i];
    }
    emit sendMsgToConfig(values);
}

void DialogSetup::on_pushButton_change_released()
{
    delete m_shift;
    m_shift = new change_shift(this);
    connect(m_shift, &change_shift::sendMsgToDialogSetup, this, &DialogSetup::recMsgFromChangeShift);
    connect(this, &DialogSetup::sendMsgToShift, m_shift, &change_shift::recMsgFromDialogSetup);
    m_shift->show();
    centre(m_shift);
    emit sendMsgToShift(g_sys_conf.SHIFT_A, g_sys_conf.SHIFT_B, g_sys_conf.SHIFT_C);
}

void DialogSetup::on_pushButton_statistic_released()
{
    delete m_statistic;
    m_statistic = new output_statistic(this);
    connect(this, &DialogSetup::sendMsgToOutput, m_statistic, &output_statistic::recMsgFromDialogSetup);
    m_statistic->show();
    centre(m_statistic);
    emit sendMsgToOutput();
}

void DialogSetup::on_checkBox_auto_open_clicked(bool checked)
{
    g_sys_conf.AUTO_OPEN = checked ? 1 : 0;
}

void DialogSetup::on_checkBox_auto_work_clicked(bool checked)
{
    g_sys_conf.AUTO_WORK = checked ? 1 : 0;
}

void DialogSetup::recMsgFromDialogConfig(int ptr[][3])
{
    QMutexLocker locker(&g_sys_conf.lock);
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < 3; ++i)
            g_sys_conf.NO[c][i] = ptr[c][i];
}

void DialogSetup::recMsgFromChangeShift(QTime timeA, QTime timeB, QTime timeC)
{
    g_sys_conf.SHIFT_A = QTime(timeA.hour(), timeA.minute());
    g_sys_conf.SHIFT_B = QTime(timeB.hour(), timeB.minute());
    g_sys_conf.SHIFT_C = QTime(timeC.hour(), timeC.minute());
}

void DialogSetup::applySaveMode()
{
    const int mode = ui->radioButton_none->isChecked() ? 0
                     : ui->radioButton_ng->isChecked() ? 1
                     : ui->radioButton_all->isChecked() ? 2
                                                        : -1;
    SettingsActions::setSaveMode(g_sys_conf, mode);
}

void DialogSetup::applyExposure()
{
    for (int k = 0; k < 4; ++k) {
        g_sys_conf.EXPO[k] = m_expo[k]->text().toInt();
        g_sys_conf.GAIN[k] = m_gain[k]->text().toInt();
    }
}

void DialogSetup::applyFilter()
{
    for (int k = 0; k < 4; ++k)
        g_sys_conf.FILTER[k] = m_filter[k]->text().toInt();
}

void DialogSetup::centre(QWidget *dialog) const
{
    dialog->move(dialog->pos() + frameGeometry().center() - dialog->frameGeometry().center());
}
