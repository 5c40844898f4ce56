#pragma once

#include "SettingsFile.h"

#include <atomic>

// Per-camera image rotation from "../conf/rotate.txt". Codes 0..2 are OpenCV's rotate
// codes (90° clockwise, 180°, 90° counter-clockwise); 3 means no rotation.
// Written only by the GUI thread; the work and debug threads read them for every frame.
extern std::atomic<int> g_rotate[4];
extern std::atomic<bool> g_rotate_enable[4];

namespace Rotation {
constexpr int kNone = 3;
// The next code when the operator presses a camera's rotate button.
int nextCode(int code);
// No camera rotates, in memory only.
void setNone();
}

// Reads rotate.txt ("1,2,0,3,0,3,0,3,", the final comma optional). Unopenable file:
// prints "Error: Open config file rotate.txt", returns false (found: Missing). An empty
// file (Empty) or fewer than eight comma-separated fields (Damaged): returns false and
// changes nothing.
bool readRotate(SettingsRead *found = nullptr);

// Replaces rotate.txt whole with the 16-character line for the four cameras, without a
// line end.
bool writeRotate();

// writeRotate(), and when the file cannot be written, prints "\nFail to write message to
// file." with its line end and a line naming the file, and returns false.
bool saveRotation();

// Start-up's answer to a missing rotate.txt: no rotation for any camera, saved as
// saveRotation() does.
bool resetRotation();
