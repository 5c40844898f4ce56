#pragma once

#include "KeypadLogin.h"

#include <QDialog>
#include <QString>

class QLineEdit;

// The numeric login keypad shared by Dialogin (operator) and DialogSetupPasswd
// (administrator): digits build the password, shown as one '*' each; OK checks it.
// The form's buttons reach the slots below by their names.
class KeypadDialog : public QDialog
{
    Q_OBJECT

public:
    QString typed() const { return m_typed; }

protected:
    KeypadDialog(KeypadLogin::Role role, QWidget *parent);
    // Called by the subclass once its form is set up.
    void setEntry(QLineEdit *entry);
    virtual void loggedIn() = 0;

private slots:
    void on_pushButton_0_released() { append(0); }
    void on_pushButton_1_released() { append(1); }
    void on_pushButton_2_released() { append(2); }
    void on_pushButton_3_released() { append(3); }
    void on_pushButton_4_released() { append(4); }
    void on_pushButton_5_released() { append(5); }
    void on_pushButton_6_released() { append(6); }
    void on_pushButton_7_released() { append(7); }
    void on_pushButton_8_released() { append(8); }
    void on_pushButton_9_released() { append(9); }
    void on_pushButton_clr_released();
    void on_pushButton_ok_released();
    void on_pushButton_close_released();

private:
    void append(int digit);

    const KeypadLogin::Role m_role;
    QString m_typed;
    QLineEdit *m_entry = nullptr;
};
