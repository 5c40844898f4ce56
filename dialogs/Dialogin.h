#pragma once

#include "KeypadDialog.h"

#include <memory>

namespace Ui {
class Dialogin;
}

// The operator's login keypad; emits enter_op() once the password is accepted.
class Dialogin : public KeypadDialog
{
    Q_OBJECT

public:
    explicit Dialogin(QWidget *parent = nullptr);
    ~Dialogin() override;

signals:
    void enter_op();

protected:
    void loggedIn() override { emit enter_op(); }

private:
    std::unique_ptr<Ui::Dialogin> ui;
};
