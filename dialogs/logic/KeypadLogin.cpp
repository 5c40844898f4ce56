#include "KeypadLogin.h"

#include "Passwords.h"
#include "StationState.h"
#include "UserMessages.h"

#include <QDebug>

bool KeypadLogin::tryLogin(Role role, const QString &typed)
{
    const bool op = role == Role::Operator;
    const QString digest = Passwords::digest(typed);
    const QString &stored = op ? g_op_pswd : g_admin_pswd;
    // The typed digits are not written out: the debug stream may end up in a log file.
    qDebug() << (op ? "m_pswd_op:" : "m_pswd:") << QString(typed.size(), QLatin1Char('*'));
    qDebug() << (op ? "m_pswd_op md5:" : "m_pswd md5:") << digest;
    qDebug() << (op ? "g_admin_pswd_op md5:" : "g_admin_pswd md5:") << stored;
    if (role == Role::None || digest != stored) {
        UserMessages::instance().information(QStringLiteral("提示消息"), QStringLiteral("密码错误，请重新输入"));
        return false;
    }
    (op ? g_op_login : g_admin_login) = true;
    return true;
}
