#include "BalluffCameraSetup.h"

#include "BalluffDevice.h"
#include "BalluffFunctionInterface.h"

#include <cstdio>
#include <functional>

namespace {
// One part of the reject output's set-up; false, said and noted, when the camera refused it.
bool tryOutput(std::vector<std::string> *rejectRefused, const char *what,
               const std::function<void()> &writes)
{
    try {
        writes();
        return true;
    } catch (const BalluffError &e) {
        std::printf("can not set %s (%s)\n", what, e.what());
        std::fflush(stdout);
        if (rejectRefused)
            rejectRefused->push_back(what);
        return false;
    }
}
} // namespace

std::unique_ptr<BalluffFunctionInterface>
BalluffCameraSetup::openAndConfigure(BalluffDevice &device, int exposure, int gain, int filter,
                                     std::vector<std::string> *rejectRefused)
{
    device.setInterfaceLayout(BalluffDevice::kInterfaceLayoutGenICam);
    device.open();

    // A change of UserOutput0/1 starts Timer1/2, whose active state drives Line0/1; Line0
    // is the reject output.
    tryOutput(rejectRefused, "Line0 Timer1", [&device] {
        device.writeS("TimerSelector", "Timer1");
        device.writeS("TimerTriggerSource", "UserOutput0");
        device.writeDouble("TimerDuration", 10000.0);
        device.writeS("TimerTriggerActivation", "AnyEdge");
    });
    device.writeS("TimerSelector", "Timer2");
    device.writeS("TimerTriggerSource", "UserOutput1");
    device.writeDouble("TimerDuration", 10000.0);
    device.writeS("TimerTriggerActivation", "AnyEdge");

    if (tryOutput(rejectRefused, "Line0", [&device] { device.writeS("LineSelector", "Line0"); }))
        tryOutput(rejectRefused, "Line0 LineSource",
                  [&device] { device.writeS("LineSource", "Timer1Active"); });
    device.writeS("LineSelector", "Line1");
    device.writeS("LineSource", "Timer2Active");
    device.writeS("LineSelector", "Line4");
    device.writeInt64("mvLineDebounceTimeRisingEdge", filter);
    device.writeS("LineSelector", "Line5");
    device.writeInt64("mvLineDebounceTimeRisingEdge", filter);

    device.writeS("BinningHorizontalMode", "Sum");
    device.writeInt64("BinningHorizontal", 2);
    device.writeS("BinningVerticalMode", "Sum");
    device.writeInt64("BinningVertical", 2);

    std::unique_ptr<BalluffFunctionInterface> functions = device.createFunctionInterface();

    if (device.interfaceLayout() == BalluffDevice::kInterfaceLayoutGenICam) {
        device.writeS("TriggerMode", "On");
        device.writeS("TriggerSource", "Line4");
        device.writeS("TriggerActivation", "RisingEdge");
        device.writeS("ExposureTime", std::to_string(exposure));
        device.writeDouble("Gain", gain);
    }
    return functions;
}

void BalluffCameraSetup::setTriggeredMode(BalluffDevice &device)
{
    device.writeBool("AcquisitionFrameRateEnable", false);
    device.writeS("TriggerMode", "On");
    device.writeS("TriggerSource", "Line4");
    device.writeS("TriggerActivation", "RisingEdge");
}

void BalluffCameraSetup::setFreeRunMode(BalluffDevice &device)
{
    device.writeBool("AcquisitionFrameRateEnable", true);
    device.writeDouble("AcquisitionFrameRate", 10.0);
    device.writeS("TriggerMode", "Off");
}
