#pragma once

#include <memory>

class BalluffDevice;
class BalluffFunctionInterface;

// The properties written to a Balluff device: at open, and for the two acquisition
// modes. A refused write raises BalluffError naming the operation, which ends the
// sequence; the caller turns it into a failed open.
namespace BalluffCameraSetup {

// Opens the device as GenICam, configures it and returns its function interface.
std::unique_ptr<BalluffFunctionInterface> openAndConfigure(BalluffDevice &device, int exposure,
                                                          int gain, int filter);
void setTriggeredMode(BalluffDevice &device);
void setFreeRunMode(BalluffDevice &device);

} // namespace BalluffCameraSetup
