#include "KeypadDialog.h"

#include <QLineEdit>

KeypadDialog::KeypadDialog(KeypadLogin::Role role, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
    , m_role(role)
{
}

void KeypadDialog::setEntry(QLineEdit *entry)
{
    m_entry = entry;
}

void KeypadDialog::append(int digit)
{
    m_typed += QChar('0' + digit);
    m_entry->setText(m_entry->text() + QLatin1Char('*'));
}

void KeypadDialog::on_pushButton_clr_released()
{
    m_typed.clear();
    m_entry->clear();
}

void KeypadDialog::on_pushButton_ok_released()
{
    if (KeypadLogin::tryLogin(m_role, m_typed)) {
        loggedIn();
        close();
        return;
    }
    on_pushButton_clr_released();
}

void KeypadDialog::on_pushButton_close_released()
{
    close();
}
