#include "SettingsActions.h"

#include "Passwords.h"
#include "SysConf.h"
#include "UserMessages.h"

#include <QMutexLocker>

bool SettingsActions::changePassword(KeypadLogin::Role role, const QString &oldText,
                                     const QString &newText, const QString &confirmText)
{
    const bool op = role == KeypadLogin::Role::Operator;
    QString &digest = op ? g_op_pswd : g_admin_pswd;
    UserMessages &messages = UserMessages::instance();
    if (Passwords::digest(oldText) != digest) {
        messages.information(QStringLiteral("提示消息"), QStringLiteral("原密码错误，请重新输入"));
        return false;
    }
    if (newText != confirmText) {
        messages.information(QStringLiteral("提示消息"), QStringLiteral("新密码两次输入不一致，请重新输入"));
        return false;
    }
    const QString previous = digest;
    digest = Passwords::digest(newText);
    if (!(op ? writeOperatorPassword() : writeAdminPassword())) {
        digest = previous;
        messages.information(QStringLiteral("提示"), op ? QStringLiteral("操作员密码修改失败，无法写入密码文件")
                                                        : QStringLiteral("管理员密码修改失败，无法写入密码文件"));
        return false;
    }
    messages.information(QStringLiteral("提示"),
                         op ? QStringLiteral("操作员密码修改成功") : QStringLiteral("管理员密码修改成功"));
    return true;
}

bool SettingsActions::save(const SysConf &conf)
{
    if (!writeConfFile(conf)) {
        UserMessages::instance().information(QStringLiteral("提示"), QStringLiteral("保存参数失败，无法写入配置文件"));
        return false;
    }
    UserMessages::instance().information(QStringLiteral("提示"),
                                         QStringLiteral("保存参数成功,部分配置需要重启程序后生效"));
    return true;
}

void SettingsActions::setSaveMode(SysConf &conf, int mode)
{
    if (mode < 0 || mode > 2)
        return;
    QMutexLocker locker(&conf.lock);
    conf.SAVE = mode;
}
