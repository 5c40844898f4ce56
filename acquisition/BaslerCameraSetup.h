#pragma once

#include <string>
#include <vector>

class BaslerCamera;

// The features written to an open Basler camera: at open, and for the two acquisition
// modes. "Try" writes print "can not set ..." when refused; the plain writes of
// configureOnOpen raise BaslerError, which the caller turns into a failed open.
namespace BaslerCameraSetup {

// The reject output's features that the camera refused ("Line4", "Line4 LineSource") are
// appended to rejectRefused: with any of them the camera cannot eject.
void configureOnOpen(BaslerCamera &camera, int exposure, int gain, int filter,
                     std::vector<std::string> *rejectRefused = nullptr);
void setTriggeredMode(BaslerCamera &camera);
void setFreeRunMode(BaslerCamera &camera);

} // namespace BaslerCameraSetup
