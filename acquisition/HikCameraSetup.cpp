#include "HikCameraSetup.h"

#include <QDebug>

#include <cstdio>

namespace {
void report(int result, const char *feature)
{
    if (result != HikApi::kOk) {
        std::printf("can not set %s\n", feature);
        std::fflush(stdout);
    }
}
} // namespace

bool HikCameraSetup::configureOnOpen(HikApi &api, HikHandle h, const HikDeviceInfo &info,
                                     int exposure, int gain, int filter,
                                     std::vector<std::string> *rejectRefused)
{
    if (api.openDevice(h, HikApi::kAccessExclusive, 0) != HikApi::kOk) {
        api.closeDevice(h);
        if (api.openDevice(h, HikApi::kAccessExclusive, 0) != HikApi::kOk) {
            qDebug() << "Failed to open camera";
            return false;
        }
    }
    if (info.layerType == HikDeviceInfo::kGigE) {
        const int packetSize = api.getOptimalPacketSize(h);
        if (packetSize > 0)
            api.setIntValue(h, "GevSCPSPacketSize", static_cast<unsigned>(packetSize));
    }

    // Line1: the reject output, a strobe fired by software.
    auto output = [rejectRefused](int result, const char *feature, const char *refusal) {
        report(result, feature);
        if (result != HikApi::kOk && rejectRefused)
            rejectRefused->push_back(refusal);
    };
    output(api.setEnumValue(h, "LineSelector", 1), "LineSelector", "Line1");
    output(api.setEnumValue(h, "LineSource", 5), "LineSource", "Line1 LineSource");
    output(api.setBoolValue(h, "StrobeEnable", true), "StrobeEnable", "Line1 StrobeEnable");
    output(api.setIntValueEx(h, "StrobeLineDuration", 10000), "StrobeLineDuration",
           "Line1 StrobeLineDuration");

    // Line0 (product window) and Line2 (frame trigger) are debounced.
    report(api.setEnumValue(h, "LineSelector", 0), "LineSelector");
    report(api.setIntValueEx(h, "LineDebouncerTime", filter), "LineDebouncerTime");
    report(api.setEnumValue(h, "LineSelector", 2), "LineSelector");
    report(api.setIntValueEx(h, "LineDebouncerTime", filter), "LineDebouncerTime");

    report(api.setEnumValue(h, "TriggerMode", 1), "TriggerMode");
    report(api.setEnumValue(h, "TriggerSource", 2), "TriggerSource");
    report(api.setEnumValue(h, "TriggerActivation", 1), "TriggerActivation");
    report(api.setEnumValue(h, "BinningHorizontal", 2), "BinningHorizontal");
    report(api.setEnumValue(h, "BinningVertical", 2), "BinningVertical");
    report(api.setEnumValue(h, "ExposureAuto", 0), "ExposureAuto");
    report(api.setEnumValue(h, "ExposureMode", 0), "ExposureMode");
    report(api.setFloatValue(h, "ExposureTime", static_cast<float>(exposure)), "ExposureTime");
    report(api.setEnumValue(h, "GainAuto", 0), "GainAuto");
    report(api.setFloatValue(h, "Gain", static_cast<float>(gain)), "Gain");
    return true;
}

void HikCameraSetup::setTriggeredMode(HikApi &api, HikHandle h)
{
    report(api.setEnumValue(h, "TriggerMode", 1), "TriggerMode");
    report(api.setEnumValue(h, "TriggerSource", 2), "TriggerSource");
    report(api.setEnumValue(h, "TriggerActivation", 1), "TriggerActivation");
    report(api.setFrameRate(h, 1000.0f), "FrameInfo");
    report(api.setBoolValue(h, "AcquisitionFrameRateEnable", false), "AcquisitionFrameRateEnable");
}

void HikCameraSetup::setFreeRunMode(HikApi &api, HikHandle h)
{
    api.setFrameRate(h, 10.0f);
    report(api.setBoolValue(h, "AcquisitionFrameRateEnable", true), "AcquisitionFrameRateEnable");
    report(api.setEnumValue(h, "TriggerMode", 0), "TriggerMode");
}
