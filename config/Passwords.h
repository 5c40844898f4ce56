#pragma once

#include <QString>

// Password digests: lower-case hex MD5 of the password's Latin-1 bytes.
extern QString g_admin_pswd;
extern QString g_op_pswd;

namespace Passwords {
// In force for a role whose file is missing, unreadable or empty.
extern const char *const kDefaultDigest;
QString digest(const QString &password);
}

// First line of "pswd.txt" / "pswd_op.txt", unchanged. Unopenable file: prints
// "Error: Open config file pswd.txt" (or pswd_op.txt) and returns the default digest;
// an empty file or first line also gives the default digest.
QString readAdminPassword();
QString readOperatorPassword();

// Store g_admin_pswd / g_op_pswd as the bare text. False when the file can't be written.
bool writeAdminPassword();
bool writeOperatorPassword();
