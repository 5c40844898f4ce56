#pragma once

#include "SettingsFile.h"

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
// "Error: Open config file pswd.txt" (or pswd_op.txt) and returns the default digest
// (found: Missing); an empty file or first line also gives the default digest (Empty). A
// first line that is not 32 lower-case hex digits is returned as it is (Damaged).
QString readAdminPassword(SettingsRead *found = nullptr);
QString readOperatorPassword(SettingsRead *found = nullptr);

// Replace the file whole with g_admin_pswd / g_op_pswd as the bare text. False, and the
// file unchanged, when it can't be written.
bool writeAdminPassword();
bool writeOperatorPassword();
