#pragma once

#include "HikApi.h"

// The features written to a HIK camera: at open, and for the two acquisition modes.
// A refused write prints "can not set <feature>" on standard output and the sequence
// goes on.
namespace HikCameraSetup {

// Opens the device (one close-and-retry) and configures it. False, after printing
// "Failed to open camera" to the debug log, when it can't be opened.
bool configureOnOpen(HikApi &api, HikHandle handle, const HikDeviceInfo &info, int exposure,
                     int gain, int filter);
void setTriggeredMode(HikApi &api, HikHandle handle);
void setFreeRunMode(HikApi &api, HikHandle handle);

} // namespace HikCameraSetup
