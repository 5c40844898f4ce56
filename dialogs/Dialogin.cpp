#include "Dialogin.h"

#include "ui_Dialogin.h"

Dialogin::Dialogin(QWidget *parent)
    : KeypadDialog(KeypadLogin::Role::Operator, parent)
    , ui(std::make_unique<Ui::Dialogin>())
{
    ui->setupUi(this);
    setEntry(ui->lineEdit);
}

Dialogin::~Dialogin() = default;
