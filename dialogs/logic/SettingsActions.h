#pragma once

#include "KeypadLogin.h"

#include <QString>

struct SysConf;

// What the settings dialog's buttons do to the settings record and the station's files,
// each telling the administrator the outcome.
namespace SettingsActions {

// Old password checked against the role's digest, new and confirmation compared; then
// the new digest is stored in memory and in the role's password file. A file that can't
// be written leaves the old password in force, so that memory and file never differ.
// Returns true when the new password is in force.
bool changePassword(KeypadLogin::Role role, const QString &oldText, const QString &newText,
                    const QString &confirmText);

// Writes conf.txt from conf and says whether it was saved.
bool save(const SysConf &conf);

// SAVE for the checked radio button: 0 none, 1 NG, 2 all; -1 (no button) keeps it.
void setSaveMode(SysConf &conf, int mode);

} // namespace SettingsActions
