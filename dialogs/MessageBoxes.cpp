#include "MessageBoxes.h"

#include <QMessageBox>

void MessageBoxes::information(const QString &title, const QString &text)
{
    QMessageBox::information(nullptr, title, text);
}

bool MessageBoxes::question(const QString &title, const QString &text)
{
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No)
           == QMessageBox::Yes;
}
