#pragma once

#include <QDateTime>

// Session state of the main window, written only on the GUI thread.
extern bool g_admin_login;
extern bool g_op_login;
extern int g_admin_remaining;  // seconds until the administrator is logged out
extern int g_op_remaining;     // seconds until the operator is logged out
extern bool g_working;
extern QDateTime g_start_time; // base of the run-time display

// Automatic shift change: last production total seen, how many checks it stayed the
// same, and the ticks since the last check.
extern int g_last_quantity;
extern int g_same_quantity_count;
extern int g_shift_tick;

namespace StationState {
constexpr int kAdminLoginSeconds = 600;
constexpr int kOperatorLoginSeconds = 300;
}
