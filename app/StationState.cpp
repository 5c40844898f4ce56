#include "StationState.h"

bool g_admin_login = false;
bool g_op_login = false;
int g_admin_remaining = StationState::kAdminLoginSeconds;
int g_op_remaining = StationState::kOperatorLoginSeconds;
bool g_working = false;
QDateTime g_start_time;
int g_last_quantity = 0;
int g_same_quantity_count = 0;
int g_shift_tick = 0;
