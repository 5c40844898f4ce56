#pragma once

#include "UserMessages.h"

// The station's message boxes as the operator sees them: QMessageBox, modal, no parent.
class MessageBoxes : public UserMessages
{
public:
    void information(const QString &title, const QString &text) override;
    bool question(const QString &title, const QString &text) override;
};
