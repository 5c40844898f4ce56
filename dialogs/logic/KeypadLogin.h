#pragma once

#include <QString>

// The check behind the two login keypads.
namespace KeypadLogin {

enum class Role { None, Operator, Administrator };

// Compares the digest of typed with the role's stored digest (g_op_pswd / g_admin_pswd)
// and on a match sets the role's login flag (g_op_login / g_admin_login). A mismatch
// shows "密码错误，请重新输入" and changes no flag.
bool tryLogin(Role role, const QString &typed);

} // namespace KeypadLogin
