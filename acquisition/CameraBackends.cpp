#include "CameraBackends.h"

CameraBackends &cameraBackends()
{
    static CameraBackends table;
    return table;
}
