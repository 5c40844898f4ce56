#pragma once

#include <memory>
#include <string>
#include <vector>

class BalluffDevice;
class BalluffFunctionInterface;

// The properties written to a Balluff device: at open, and for the two acquisition
// modes. A refused write raises BalluffError naming the operation, which ends the
// sequence; the caller turns it into a failed open. The reject output's writes alone are
// tried: a camera that refuses them still inspects, and is shown unable to eject.
namespace BalluffCameraSetup {

// Opens the device as GenICam, configures it and returns its function interface. The
// reject output's features that were refused ("Line0 Timer1", "Line0", "Line0 LineSource")
// are printed as "can not set ..." and appended to rejectRefused.
std::unique_ptr<BalluffFunctionInterface> openAndConfigure(
    BalluffDevice &device, int exposure, int gain, int filter,
    std::vector<std::string> *rejectRefused = nullptr);
void setTriggeredMode(BalluffDevice &device);
void setFreeRunMode(BalluffDevice &device);

} // namespace BalluffCameraSetup
