#pragma once

#include <QString>

// Every file and folder the station touches, relative to its working directory
// (<station>/bin). Keeping them here is what lets a Windows build use its drive
// paths while Linux uses the station folder's data/ tree.
namespace StationPaths {

QString confFile();             // settings and recipe
QString modbusFile();           // PLC address map
QString rotateFile();           // per-camera rotation
QString plcParamFile();         // PLC parameter rows
QString statisticFile(int position);
QString monitorFile();          // the station's name and login at the plant's broker
QString cameraSimFile();        // simulated cameras and line (Linux build)
QString adminPasswordFile();
QString operatorPasswordFile();
QString splashImage();
QString warmUpImage();
QString modelConfig();
QString modelWeights();
QString modelNames();
QString imageRoot();            // day folders of saved images, ends with '/'
QString logRoot();              // operation log folder, ends with '/'

// Serial device of the PLC: "COM1" on Windows; elsewhere GLUEBOX_PLC_PORT when it names
// a device (the PLC simulator's pseudo-terminal, a USB adapter), else "/dev/ttyS0".
QString plcPort();

} // namespace StationPaths
