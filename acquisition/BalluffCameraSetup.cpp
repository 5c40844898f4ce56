#include "BalluffCameraSetup.h"

#include "BalluffDevice.h"
#include "BalluffFunctionInterface.h"

std::unique_ptr<BalluffFunctionInterface>
BalluffCameraSetup::openAndConfigure(BalluffDevice &device, int exposure, int gain, int filter)
{
    device.setInterfaceLayout(BalluffDevice::kInterfaceLayoutGenICam);
    device.open();

    // A change of UserOutput0/1 starts Timer1/2, whose active state drives Line0/1.
    device.writeS("TimerSelector", "Timer1");
    device.writeS("TimerTriggerSource", "UserOutput0");
    device.writeDouble("TimerDuration", 10000.0);
    device.writeS("TimerTriggerActivation", "AnyEdge");
    device.writeS("TimerSelector", "Timer2");
    device.writeS("TimerTriggerSource", "UserOutput1");
    device.writeDouble("TimerDuration", 10000.0);
    device.writeS("TimerTriggerActivation", "AnyEdge");

    device.writeS("LineSelector", "Line0");
    device.writeS("LineSource", "Timer1Active");
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
