#pragma once

class BaslerCamera;

// The features written to an open Basler camera: at open, and for the two acquisition
// modes. "Try" writes print "can not set ..." when refused; the plain writes of
// configureOnOpen raise BaslerError, which the caller turns into a failed open.
namespace BaslerCameraSetup {

void configureOnOpen(BaslerCamera &camera, int exposure, int gain, int filter);
void setTriggeredMode(BaslerCamera &camera);
void setFreeRunMode(BaslerCamera &camera);

} // namespace BaslerCameraSetup
