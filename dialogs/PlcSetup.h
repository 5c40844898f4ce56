#pragma once

#include <QDialog>

class PlcSetup : public QDialog
{
    Q_OBJECT

public:
    explicit PlcSetup(QWidget *parent = nullptr);
};
