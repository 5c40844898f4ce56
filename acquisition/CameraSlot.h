#pragma once

// One camera position 0..3 and the camera bound to it.
struct CameraSlot
{
    enum Vendor { None = 0, Balluff = 1, Basler = 2, Hik = 3 };

    int deviceIndex = 0; // index in the vendor's device list (HIK, Balluff)
    int baslerIndex = 0; // index in the Basler device list
    int vendor = None;
    int userId = 0;
    bool found = false;  // a camera with the position's user ID was bound to it
    bool opened = false; // the camera is open and its capture worker runs
};

// Written on the GUI thread only.
extern CameraSlot g_cameras[4];
