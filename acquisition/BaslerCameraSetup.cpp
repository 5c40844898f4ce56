#include "BaslerCameraSetup.h"

#include "BaslerCamera.h"

#include <cstdio>

namespace {
void cannotSet(const char *what)
{
    std::printf("can not set %s\n", what);
    std::fflush(stdout);
}

void debounceSelectedInput(BaslerCamera &camera, int filter)
{
    if (camera.trySetFloat("LineDebouncerTime", filter))
        return;
    cannotSet("LineDebouncerTime");
    if (!camera.trySetFloat("BslInputFilterTime", filter))
        cannotSet("BslInputFilterTime");
}
} // namespace

void BaslerCameraSetup::configureOnOpen(BaslerCamera &camera, int exposure, int gain, int filter,
                                        std::vector<std::string> *rejectRefused)
{
    auto refused = [rejectRefused](const char *what) {
        if (rejectRefused)
            rejectRefused->push_back(what);
    };
    camera.setEnum("LineSelector", 9); // Line1: product window
    debounceSelectedInput(camera, filter);

    camera.setEnum("LineSelector", 11); // Line3: frame trigger
    camera.setEnum("LineMode", 0);
    debounceSelectedInput(camera, filter);

    if (!camera.trySetEnum("LineSelector", 12)) { // Line4: bad-product output
        cannotSet("LineSelector_Line4");
        refused("Line4");
    } else {
        camera.setEnum("LineMode", 1);
        camera.setFloatNode("UserOutputDuration", 10000.0);
        if (camera.trySetEnum("LineSource", 37)) {
            camera.setEnum("UserOutputSelector", 3);
            camera.setBool("UserOutputValue", false);
        } else {
            cannotSet("LineSource_UserOutput3");
            refused("Line4 LineSource");
        }
    }

    camera.setEnum("LineSelector", 10); // Line2: good-product output
    camera.setFloatNode("UserOutputDuration", 10000.0);
    if (camera.trySetEnum("LineSource", 35)) {
        camera.setEnum("UserOutputSelector", 1);
        camera.setBool("UserOutputValue", false);
    } else {
        cannotSet("LineSource_UserOutput1");
    }

    camera.setEnum("ExposureAuto", 1);
    camera.setEnum("ExposureMode", 1);
    camera.setFloat("ExposureTime", exposure);

    camera.setEnum("GainSelector", 0);
    camera.setEnum("GainAuto", 1);
    camera.setFloat("Gain", gain);

    camera.setEnum("TriggerSelector", 11);
    camera.setEnum("TriggerMode", 1);
    camera.setEnum("TriggerSource", 19);
    camera.setEnum("TriggerActivation", 4);

    camera.setInt("BinningHorizontal", 2);
    camera.setInt("BinningVertical", 2);
}

void BaslerCameraSetup::setTriggeredMode(BaslerCamera &camera)
{
    if (!camera.trySetEnum("TriggerSelector", 11))
        cannotSet("TriggerSelector_FrameStart");
    if (!camera.trySetEnum("TriggerMode", 1))
        cannotSet("TriggerMode_On");
    if (!camera.trySetBool("AcquisitionFrameRateEnable", false))
        cannotSet("AcquisitionFrameRateEnable");
}

void BaslerCameraSetup::setFreeRunMode(BaslerCamera &camera)
{
    if (!camera.trySetEnum("TriggerSelector", 11))
        cannotSet("TriggerSelector_FrameStart");
    if (!camera.trySetEnum("TriggerMode", 0))
        cannotSet("TriggerMode_Off");
    if (!camera.trySetBool("AcquisitionFrameRateEnable", true))
        cannotSet("AcquisitionFrameRateEnable");
    if (!camera.trySetFloat("AcquisitionFrameRate", 10.0))
        cannotSet("AcquisitionFrameRate");
}
