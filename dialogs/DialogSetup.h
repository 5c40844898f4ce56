#pragma once

#include <QDialog>

class DialogSetup : public QDialog
{
    Q_OBJECT

public:
    explicit DialogSetup(QWidget *parent = nullptr);

signals:
    void system_exit();
};
