#pragma once

#include <QDialog>

class Dialogin : public QDialog
{
    Q_OBJECT

public:
    explicit Dialogin(QWidget *parent = nullptr);

signals:
    void enter_op();
};
