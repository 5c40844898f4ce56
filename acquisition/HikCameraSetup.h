#pragma once

#include "HikApi.h"

#include <string>
#include <vector>

// The features written to a HIK camera: at open, and for the two acquisition modes.
// A refused write prints "can not set <feature>" on standard output and the sequence
// goes on.
namespace HikCameraSetup {

// Opens the device (one close-and-retry) and configures it. False, after printing
// "Failed to open camera" to the debug log, when it can't be opened. The reject output's
// features that the camera refused ("Line1", "Line1 StrobeEnable", ...) are appended to
// rejectRefused: with any of them the camera cannot be trusted to eject.
bool configureOnOpen(HikApi &api, HikHandle handle, const HikDeviceInfo &info, int exposure,
                     int gain, int filter, std::vector<std::string> *rejectRefused = nullptr);
void setTriggeredMode(HikApi &api, HikHandle handle);
void setFreeRunMode(HikApi &api, HikHandle handle);

} // namespace HikCameraSetup
