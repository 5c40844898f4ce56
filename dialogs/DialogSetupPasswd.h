#pragma once

#include <QDialog>

class DialogSetupPasswd : public QDialog
{
    Q_OBJECT

public:
    explicit DialogSetupPasswd(QWidget *parent = nullptr);

signals:
    void enter_admin();
};
