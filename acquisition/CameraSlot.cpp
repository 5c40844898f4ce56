#include "CameraSlot.h"

CameraSlot g_cameras[4];
