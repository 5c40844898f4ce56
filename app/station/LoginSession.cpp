#include "LoginSession.h"

#include "StationState.h"

namespace {
const QString kUserLabel = QStringLiteral("登录用户：");
}

LoginSession::LoginSession(QObject *parent)
    : QObject(parent)
{
    timer_op.setInterval(1000);
    timer_admin.setInterval(1000);
    connect(&timer_op, &QTimer::timeout, this, &LoginSession::operatorTick);
    connect(&timer_admin, &QTimer::timeout, this, &LoginSession::adminTick);
}

bool LoginSession::loggedIn()
{
    return g_admin_login || g_op_login;
}

bool LoginSession::admin()
{
    return g_admin_login;
}

void LoginSession::requestOperatorLogin()
{
    emit log(QStringLiteral("Start to login in."));
    emit operatorKeypadRequested();
}

void LoginSession::resetOperatorCountdown()
{
    g_op_remaining = StationState::kOperatorLoginSeconds;
}

void LoginSession::toggleLock()
{
    if (!g_admin_login) {
        emit log(QStringLiteral("Unlock the application."));
        emit adminKeypadRequested();
        return;
    }
    lock();
}

void LoginSession::lock()
{
    emit log(QStringLiteral("Lock the application."));
    g_admin_login = false;
    g_op_login = false;
    emit userLabelShown(kUserLabel);
    emit roleShown(QStringLiteral("未登录"));
    emit adminShown(false);
    timer_op.stop();
    timer_admin.stop();
}

void LoginSession::adminAccepted()
{
    emit log(QStringLiteral("Administrator is login in."));
    g_admin_login = true;
    emit userLabelShown(kUserLabel);
    emit roleShown(QStringLiteral("管理员"));
    emit adminShown(true);
    g_admin_remaining = StationState::kAdminLoginSeconds;
    timer_admin.start(1000);
    timer_op.stop();
}

void LoginSession::operatorAccepted()
{
    emit log(QStringLiteral("Operator is login in."));
    g_op_login = true;
    g_op_remaining = StationState::kOperatorLoginSeconds;
    emit roleShown(QStringLiteral("操作员"));
    timer_op.start(1000);
}

void LoginSession::operatorTick()
{
    --g_op_remaining;
    emit userLabelShown(QString::number(g_op_remaining));
    if (g_op_remaining > 0)
        return;
    g_op_login = false;
    emit userLabelShown(kUserLabel);
    emit roleShown(QStringLiteral("未登录"));
    timer_op.stop();
}

void LoginSession::adminTick()
{
    --g_admin_remaining;
    emit userLabelShown(QString::number(g_admin_remaining));
    if (g_admin_remaining <= 0)
        lock();
}
