#include "change_shift.h"

#include "ui_change_shift.h"

change_shift::change_shift(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::change_shift>())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

change_shift::~change_shift() = default;

void change_shift::recMsgFromDialogSetup(QTime timeA, QTime timeB, QTime timeC)
{
    ui->A_hour->setValue(timeA.hour());
    ui->A_minute->setValue(timeA.minute());
    ui->B_hour->setValue(timeB.hour());
    ui->B_minute->setValue(timeB.minute());
    ui->C_hour->setValue(timeC.hour());
    ui->C_minute->setValue(timeC.minute());
    show();
}

void change_shift::on_pushButton_released()
{
    emit sendMsgToDialogSetup(QTime(ui->A_hour->value(), ui->A_minute->value()),
                              QTime(ui->B_hour->value(), ui->B_minute->value()),
                              QTime(ui->C_hour->value(), ui->C_minute->value()));
    close();
}
