#pragma once

class HikApi;
class BaslerTransportLayer;
class BalluffDeviceManager;

// The one table of vendor back-ends the registry talks to. A real SDK build fills it
// with SDK-backed implementations; the Linux build with simulated cameras
// (SimulatedStation). None of the pointers is owned by the table.
struct CameraBackends
{
    HikApi *hik = nullptr;
    BaslerTransportLayer *basler = nullptr;
    BalluffDeviceManager *balluff = nullptr;
};

CameraBackends &cameraBackends();
