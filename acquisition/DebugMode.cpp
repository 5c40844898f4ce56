#include "DebugMode.h"

std::atomic<bool> g_debug_mode{false};
