#include "DialogSetupPasswd.h"

#include "ui_DialogSetupPasswd.h"

DialogSetupPasswd::DialogSetupPasswd(QWidget *parent)
    : KeypadDialog(KeypadLogin::Role::Administrator, parent)
    , ui(std::make_unique<Ui::DialogSetupPasswd>())
{
    ui->setupUi(this);
    setEntry(ui->lineEdit);
}

DialogSetupPasswd::~DialogSetupPasswd() = default;
