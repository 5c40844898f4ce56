#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// The two roles and their timed logins (g_admin_login, g_op_login and their countdowns in
// StationState.h). GUI thread only. The window shows the keypads and the labels that this
// asks for; tests call the tick functions instead of waiting for the timers.
class LoginSession : public QObject
{
    Q_OBJECT
public:
    explicit LoginSession(QObject *parent = nullptr);

    static bool loggedIn();
    static bool admin();

    // An action that needs a login: logs "Start to login in." and asks for the keypad.
    void requestOperatorLogin();
    // The same without the log line (shift change, alarm cancel).
    void showOperatorKeypad() { emit operatorKeypadRequested(); }
    static void resetOperatorCountdown();

    // The lock button: unlock asks for the administrator keypad, lock ends both logins.
    void toggleLock();
    void adminAccepted();
    void operatorAccepted();
    // One second of each countdown (the timers' timeouts).
    void operatorTick();
    void adminTick();

    QTimer timer_op;
    QTimer timer_admin;

signals:
    void log(const QString &line);
    void operatorKeypadRequested();
    void adminKeypadRequested();
    void userLabelShown(const QString &text); // label_12: "登录用户：" or the countdown
    void roleShown(const QString &role);      // label_role
    // The lock button's picture and whether the debug box may be used.
    void adminShown(bool admin);

private:
    void lock();
};
