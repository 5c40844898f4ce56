#pragma once

#include <atomic>

// Debug (free-run) mode: written by the GUI thread, read by the capture threads.
extern std::atomic<bool> g_debug_mode;
