#pragma once

#include <QString>

// The station's message boxes (a title, a text, OK; or a yes/no question), behind an
// interface so that QtCore classes can show them and tests can answer them. The window
// installs the widget implementation (MessageBoxes, dialogs/); without one, a message is
// printed to standard output and a question is answered no.
class UserMessages
{
public:
    virtual ~UserMessages() = default;
    // A modal information box with no parent and one OK button.
    virtual void information(const QString &title, const QString &text) = 0;
    // A modal yes/no question; true for yes.
    virtual bool question(const QString &title, const QString &text) = 0;

    // The process-wide one (GUI thread only). Not owned; null restores the default.
    static UserMessages &instance();
    static void install(UserMessages *messages);
    // Whether one is installed (a window leaves a test's answers in place).
    static bool installed();
};
