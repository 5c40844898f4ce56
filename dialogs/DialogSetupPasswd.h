#pragma once

#include "KeypadDialog.h"

#include <memory>

namespace Ui {
class DialogSetupPasswd;
}

// The administrator's login keypad; emits enter_admin() once the password is accepted.
class DialogSetupPasswd : public KeypadDialog
{
    Q_OBJECT

public:
    explicit DialogSetupPasswd(QWidget *parent = nullptr);
    ~DialogSetupPasswd() override;

signals:
    void enter_admin();

protected:
    void loggedIn() override { emit enter_admin(); }

private:
    std::unique_ptr<Ui::DialogSetupPasswd> ui;
};
